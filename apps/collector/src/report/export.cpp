// Every stored hit as a line of JSON, for `export`.
#include "report/export.h"

#include "ingest/form.h"
#include "text/days.h"
#include "text/json.h"
#include "text/utf8.h"

#include <cstdio>
#include <ctime>

namespace zncip::collector
{

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
