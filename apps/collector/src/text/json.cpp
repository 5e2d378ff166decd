// JSON string literals for everything the collector writes as JSON.
#include "text/json.h"

#include "text/utf8.h"

#include <cstdio>

namespace zncip::collector
{

void appendJsonString(std::string& out, std::string_view text)
{
    const std::string clean = sanitizeUtf8(text);
    out += '"';
    for (const char c : clean)
    {
        switch (c)
        {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
                out += escaped;
            }
            else
                out += c;
        }
    }
    out += '"';
}

} // namespace zncip::collector
