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

std::string jsonForScriptElement(std::string_view json)
{
    static constexpr std::string_view kLineSeparator = "\xE2\x80\xA8", kParagraphSeparator = "\xE2\x80\xA9";
    std::string out;
    out.reserve(json.size());
    for (size_t i = 0; i < json.size(); ++i)
    {
        const std::string_view rest = json.substr(i);
        if (json[i] == '<')
            out += "\\u003c";
        else if (json[i] == '>')
            out += "\\u003e";
        else if (json[i] == '&')
            out += "\\u0026";
        else if (rest.substr(0, 3) == kLineSeparator)
            out += "\\u2028", i += 2;
        else if (rest.substr(0, 3) == kParagraphSeparator)
            out += "\\u2029", i += 2;
        else
            out += json[i];
    }
    return out;
}

} // namespace zncip::collector
