#include "oddbdictionary.h"

OdDbObjectId OdDbDictionary::getAt(const OdString& name) const
{
    auto it = m_entries.find(name);
    return it == m_entries.end() ? OdDbObjectId() : it->second;
}
