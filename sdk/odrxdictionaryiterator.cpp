#include "odrxdictionaryiterator.h"

bool OdRxDictionaryIterator::next()
{
    if (done())
        return false;
    ++m_position;
    return !done();
}
