#include "export.h"

#include "form.h"

#include <cstdio>
#include <ctime>

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

namespace
{

std::string base64(std::string_view data)
{
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 2 < data.size(); i += 3)
    {
        const unsigned v = static_cast<unsigned char>(data[i]) << 16 |
                           static_cast<unsigned char>(data[i + 1]) << 8 |
                           static_cast<unsigned char>(data[i + 2]);
        out += alphabet[v >> 18];
        out += alphabet[(v >> 12) & 63];
        out += alphabet[(v >> 6) & 63];
        out += alphabet[v & 63];
    }
    if (i < data.size())
    {
        unsigned v = static_cast<unsigned char>(data[i]) << 16;
        if (i + 1 < data.size())
            v |= static_cast<unsigned char>(data[i + 1]) << 8;
        out += alphabet[v >> 18];
        out += alphabet[(v >> 12) & 63];
        out += i + 1 < data.size() ? alphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

} // namespace

std::string formatTimeUtc(int64_t us)
{
    const std::time_t seconds = static_cast<std::time_t>(us / 1000000);
    std::tm tm{};
    gmtime_r(&seconds, &tm);
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%06dZ", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(us % 1000000));
    return text;
}

std::string exportLine(const StoredHit& hit)
{
    std::string line = "{\"id\":" + std::to_string(hit.id) + ",\"received\":";
    appendJsonString(line, formatTimeUtc(hit.receivedUs));
    line += ",\"path\":";
    appendJsonString(line, hit.path);
    line += hit.accepted ? ",\"accepted\":true,\"reason\":null" : ",\"accepted\":false,\"reason\":";
    if (!hit.accepted)
        appendJsonString(line, hit.reason);
    line += ",\"params\":[";
    const DecodedForm form = decodeForm(hit.body);
    for (size_t i = 0; i < form.fields.size(); ++i)
    {
        line += i ? ",[" : "[";
        appendJsonString(line, form.fields[i].name);
        line += ',';
        appendJsonString(line, form.fields[i].value);
        line += ']';
    }
    line += "],";
    if (isValidUtf8(hit.body))
    {
        line += "\"body\":";
        appendJsonString(line, hit.body);
    }
    else
        line += "\"body_base64\":\"" + base64(hit.body) + "\"";
    line += ",\"user_agent\":";
    appendJsonString(line, hit.userAgent);
    line += '}';
    return line;
}

void exportAll(const HitStore& store, std::ostream& out)
{
    store.forEach([&](const StoredHit& hit) { out << exportLine(hit) << '\n'; });
    out.flush();
}

} // namespace zncip::collector
