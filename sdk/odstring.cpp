#include "odstring.h"

OdString::OdString(const char* text)
{
    if (!text)
        return;
    for (const char* p = text; *p; ++p)
        m_text.push_back(static_cast<char16_t>(static_cast<unsigned char>(*p)));
}
