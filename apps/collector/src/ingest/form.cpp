// Decoding a hit body as application/x-www-form-urlencoded, the way browsers and the module encode it.
#include "ingest/form.h"

#include "text/utf8.h"

#include <algorithm>

namespace zncip::collector
{
namespace
{

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string decodeComponent(std::string_view in, bool& badPercent)
{
    std::string out;
    out.reserve(in.size());
    // Runs of plain bytes are copied whole: most names and values hold no escape at all.
    for (size_t i = 0; i < in.size();)
    {
        size_t special = i;
        while (special < in.size() && in[special] != '%' && in[special] != '+')
            ++special;
        out.append(in.data() + i, special - i);
        if (special == in.size())
            break;
        i = special;
        if (in[i] == '+')
        {
            out += ' ';
            ++i;
            continue;
        }
        const bool complete = i + 2 < in.size();
        const int hi = complete ? hexValue(in[i + 1]) : -1;
        const int lo = complete ? hexValue(in[i + 2]) : -1;
        if (hi >= 0 && lo >= 0)
        {
            out += static_cast<char>(hi * 16 + lo);
            i += 3;
        }
        else
        {
            out += '%';
            badPercent = true;
            ++i;
        }
    }
    return out;
}

} // namespace

DecodedForm decodeForm(std::string_view body)
{
    DecodedForm form;
    form.fields.reserve(static_cast<size_t>(std::count(body.begin(), body.end(), '&')) + 1);
    size_t start = 0;
    while (start <= body.size())
    {
        size_t end = body.find('&', start);
        if (end == std::string_view::npos)
            end = body.size();
        const std::string_view piece = body.substr(start, end - start);
        if (!piece.empty())
        {
            const size_t eq = piece.find('=');
            FormField field;
            field.name = decodeComponent(piece.substr(0, eq), form.badPercent);
            if (eq != std::string_view::npos)
                field.value = decodeComponent(piece.substr(eq + 1), form.badPercent);
            if (!isValidUtf8(field.name) || !isValidUtf8(field.value))
                form.badUtf8 = true;
            form.fields.push_back(std::move(field));
        }
        start = end + 1;
    }
    return form;
}

} // namespace zncip::collector
