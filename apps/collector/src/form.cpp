#include "form.h"

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
    for (size_t i = 0; i < in.size(); ++i)
    {
        const char c = in[i];
        if (c == '+')
        {
            out += ' ';
        }
        else if (c == '%')
        {
            const bool complete = i + 2 < in.size();
            const int hi = complete ? hexValue(in[i + 1]) : -1;
            const int lo = complete ? hexValue(in[i + 2]) : -1;
            if (hi >= 0 && lo >= 0)
            {
                out += static_cast<char>(hi * 16 + lo);
                i += 2;
            }
            else
            {
                out += '%';
                badPercent = true;
            }
        }
        else
        {
            out += c;
        }
    }
    return out;
}

// Length of the valid UTF-8 sequence at text[i], or 0 when it is not one (overlong forms, surrogates and
// code points above U+10FFFF included).
size_t utf8SequenceLength(std::string_view text, size_t i)
{
    const auto b = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char c = b(i);
    if (c < 0x80)
        return 1;
    size_t len;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF)
        len = 2;
    else if (c >= 0xE0 && c <= 0xEF)
    {
        len = 3;
        if (c == 0xE0)
            lo = 0xA0;
        if (c == 0xED)
            hi = 0x9F;
    }
    else if (c >= 0xF0 && c <= 0xF4)
    {
        len = 4;
        if (c == 0xF0)
            lo = 0x90;
        if (c == 0xF4)
            hi = 0x8F;
    }
    else
        return 0;
    if (i + len > text.size())
        return 0;
    if (b(i + 1) < lo || b(i + 1) > hi)
        return 0;
    for (size_t k = 2; k < len; ++k)
        if (b(i + k) < 0x80 || b(i + k) > 0xBF)
            return 0;
    return len;
}

} // namespace

bool isValidUtf8(std::string_view text)
{
    for (size_t i = 0; i < text.size();)
    {
        const size_t n = utf8SequenceLength(text, i);
        if (n == 0)
            return false;
        i += n;
    }
    return true;
}

std::string sanitizeUtf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();)
    {
        const size_t n = utf8SequenceLength(text, i);
        if (n == 0)
        {
            out += "\xEF\xBF\xBD";
            ++i;
        }
        else
        {
            out.append(text.substr(i, n));
            i += n;
        }
    }
    return out;
}

std::string printableText(std::string_view text)
{
    static const char hex[] = "0123456789abcdef";
    const std::string clean = sanitizeUtf8(text);
    std::string out;
    out.reserve(clean.size());
    for (size_t i = 0; i < clean.size();)
    {
        const auto c = static_cast<unsigned char>(clean[i]);
        const size_t length = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4; // valid after sanitizing
        // C0 controls and DEL are one byte; C1 controls (U+0080..U+009F) are C2 80..C2 9F.
        const unsigned code = length == 2 && c == 0xC2 ? static_cast<unsigned char>(clean[i + 1]) : c;
        if (code < 0x20 || (code >= 0x7F && code <= 0x9F))
            out += {'\\', 'x', hex[code >> 4], hex[code & 15]};
        else
            out.append(clean, i, length);
        i += length;
    }
    return out;
}

DecodedForm decodeForm(std::string_view body)
{
    DecodedForm form;
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
