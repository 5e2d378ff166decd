// What the collector needs of UTF-8: checking it, repairing it, and making client text safe to print.
#include "text/utf8.h"

namespace zncip::collector
{
namespace
{

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
        if (static_cast<unsigned char>(text[i]) < 0x80) // most client text is ASCII
        {
            ++i;
            continue;
        }
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

namespace
{

// Characters that print nothing yet change how a terminal shows the rest of the line: bidirectional
// embeddings, overrides and isolates (a name that reads backwards), zero-width characters (a name that
// looks like another), and the line and paragraph separators.
bool isInvisibleFormat(unsigned code)
{
    return (code >= 0x200B && code <= 0x200F) || (code >= 0x2028 && code <= 0x202E) || code == 0x2060 ||
           (code >= 0x2066 && code <= 0x2069) || code == 0xFEFF;
}

} // namespace

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
        const auto next = [&](size_t k) { return static_cast<unsigned char>(clean[i + k]) & 0x3Fu; };
        const unsigned wide = length == 3 ? (c & 0x0Fu) << 12 | next(1) << 6 | next(2) : 0; // U+0800..U+FFFF
        if (code < 0x20 || (code >= 0x7F && code <= 0x9F))
            out += {'\\', 'x', hex[code >> 4], hex[code & 15]};
        else if (isInvisibleFormat(wide))
            out += {'\\', 'u', hex[wide >> 12], hex[(wide >> 8) & 15], hex[(wide >> 4) & 15], hex[wide & 15]};
        else
            out.append(clean, i, length);
        i += length;
    }
    return out;
}

} // namespace zncip::collector
