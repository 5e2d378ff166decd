// Decoding a hit's form and validating it: what each body decodes to and which parameters a verdict names.

#include "collector_fixture.h"
#include "ingest/validation.h"

#include <gtest/gtest.h>

namespace zncip::collector::test
{
namespace
{

// Each row: a body and what it decodes to, [name|value] per field, then the flags it raises.
TEST(FormDecoding, Table)
{
    // clang-format off
    const char* const rows[] = {
        "b=2&&a=1&b=3&flag&=orphan&c=", "[b|2][a|1][b|3][flag|][|orphan][c|]",    "", "",
        "el=LINE%20(%C3%84)&x=a%26b%3dc", "[el|LINE (Ä)][x|a&b=c]",
        // The module leaves '+' unencoded, so a literal plus reads as a blank; an encoded one is a plus.
        "el=C++%20(TOOLS)&ea=a+b", "[el|C   (TOOLS)][ea|a b]",                    "el=C%2B%2B", "[el|C++]",
        // A body is passed without its terminator: a '%' at the end is the last byte the decoder may read.
        "el=100%", "[el|100%] bad%",        "el=%4", "[el|%4] bad%",              "el=%zz%41", "[el|%zzA] bad%",
        "e%l=1", "[e%l|1] bad%",            "el=%F0%9F%98%80", "[el|\xF0\x9F\x98\x80]",
        "el=%FF", "[el|\xFF] bad UTF-8",    "el=%C3", "[el|\xC3] bad UTF-8",      "%FE=1", "[\xFE|1] bad UTF-8",
        "el=%C0%AF", "[el|\xC0\xAF] bad UTF-8",                                   "el=%ED%A0%80", "[el|\xED\xA0\x80] bad UTF-8",
        "el=%F4%90%80%80", "[el|\xF4\x90\x80\x80] bad UTF-8"};
    // clang-format on
    for (size_t i = 0; i < std::size(rows); i += 2)
    {
        const DecodedForm form = decodeForm(rows[i]);
        std::string fields;
        for (const FormField& f : form.fields)
            fields += "[" + f.name + "|" + f.value + "]";
        EXPECT_EQ(fields + (form.badPercent ? " bad%" : "") + (form.badUtf8 ? " bad UTF-8" : ""), rows[i + 1])
            << rows[i];
    }
}

std::string problemParameters(const std::string& body)
{
    std::string names;
    for (const Problem& p : validateHit(body).problems)
        names += "[" + p.parameter + "]";
    return names.empty() ? "ok" : names;
}

const std::string kHit = "v=1&tid=UA-1-1&cid=x&t=";

// Each row: the parameters the problems name ("ok": none), then the hit ("..." stands for kHit).
TEST(Validation, VerdictsNameTheParameter)
{
    const std::string module = "v=1&tid=UA-582047-16&cid=35009a79-1a05-49d7-b876-2b884d0f825b&ul=en-us&qt=1"
                               "&an=App%20SP2%20x64&av=1.0&t=";
    const auto x = [](size_t n) { return std::string(n, 'x'); };
    std::string letters; // 75 two-byte letters fill ec exactly
    for (int i = 0; i < 75; ++i)
        letters += "%C3%A4";
    // A body exactly at the limit has only el too long; one byte more is a problem of its own ("").
    const std::string limit = "...event&ec=a&ea=b&el=" + x(kMaxHitBytes - kHit.size() - 19);
    // clang-format off
    const std::string rows[] = {
        "ok " + module + "event&ec=Commands&ea=Execute&el=LINE%20(GROUPA)&ev=1",
        "ok " + module + "event&ec=Session&ea=Start&sc=start",
        "ok " + module + "event&ec=System&ea=Memory&el=16384&ev=0&ni=1",
        // Out-of-range screen indexes give an empty parameter name, which is ignored.
        "ok " + module + "screenview&cd=Drawing&cd1=dwg&cd200=x&cd201=x&cm1=3&cm2=-2.5&=x&=y",
        "ok v=1&tid=UA-1-1&uid=user&t=event&ec=a&ea=b&sc=end", "ok ...pageview", "ok ...exception",
        "ok ...transaction&ti=1", "ok ...timing&utc=a&utv=b&utt=5",
        "[v] tid=UA-1-1&cid=x&t=pageview",     "[v] v=2&tid=UA-1-1&cid=x&t=pageview",   "[tid] v=1&cid=x&t=pageview",
        "[tid] v=1&tid=UA-1&cid=x&t=pageview", "[tid] v=1&tid=UA-12a-1&cid=x&t=pageview",
        "[tid] v=1&tid=G-ABC123&cid=x&t=pageview", "[tid] v=1&tid=ua-1-1&cid=x&t=pageview",
        "[cid] v=1&tid=UA-1-1&t=pageview",     "[cid] v=1&tid=UA-1-1&cid=&t=pageview",  "[t] v=1&tid=UA-1-1&cid=x",
        "[t] ...click",          "[ec][ea] ...event",     "[ea] ...event&ec=a&ea=",   "[cd] ...screenview",
        "[in] ...item&ti=1",     "[st] ...social&sn=a&sa=b", "[utt] ...timing&utc=a&utv=b", "[ti] ...transaction",
        "[ev] ...pageview&ev=-1",   "[ev] ...pageview&ev=1.5",   "[qt] ...pageview&qt=one", "[ni] ...pageview&ni=2",
        "[cm3] ...pageview&cm3=abc", "[cm3] ...pageview&cm3=1e5", "[sc] ...pageview&sc=restart",
        "[cid] ...pageview&cid=y",
        // A repeated name is named once, where it came again: in the body's order, not the names'.
        "[ni][ev] ...pageview&ni=1&ev=1&ni=1&ev=1&ni=1",
        // Integers stay within 32 bits, so that no sum of them can overflow.
        "ok ...pageview&ev=2147483647&qt=002147483647", "[ev] ...pageview&ev=2147483648",
        "[ev] ...pageview&ev=999999999999999999", "[utt] ...timing&utc=a&utv=b&utt=10000000000",
        // Lengths are limited in bytes after decoding.
        "ok ...pageview&ec=" + x(150), "[ec] ...pageview&ec=" + x(151), "ok ...pageview&el=" + x(500),
        "[el] ...pageview&el=" + x(501), "ok ...pageview&cd=" + x(2048), "[cd] ...pageview&cd=" + x(2049),
        "ok ...pageview&ec=" + letters, "[ec] ...pageview&ec=" + letters + "%C3%A4",
        "[el] " + limit, "[][el] " + limit + "x", "[] ...event&ec=a&ea=b&el=%FF"};
    // clang-format on
    for (const std::string& row : rows)
    {
        std::string body = row.substr(row.find(' ') + 1);
        if (body.rfind("...", 0) == 0)
            body.replace(0, 3, kHit);
        EXPECT_EQ(problemParameters(body), row.substr(0, row.find(' '))) << body;
    }
    EXPECT_EQ(
        validateHit(kHit + "event&ec=a&ea=b&ev=x&el=100%").reason(),
        "a '%' is not followed by two hexadecimal digits; ev: the value must be a non-negative integer");
}
} // namespace
} // namespace zncip::collector::test
