#include "validation.h"

#include <gtest/gtest.h>

namespace zncip::collector
{
namespace
{

const std::string kHead = "v=1&tid=UA-582047-16&cid=35009a79-1a05-49d7-b876-2b884d0f825b&ul=en-us&qt=1"
                          "&an=App%20SP2%20x64&av=1.0";

std::vector<std::string> problemParameters(const std::string& body)
{
    std::vector<std::string> names;
    for (const Problem& p : validateHit(body).problems)
        names.push_back(p.parameter);
    return names;
}

TEST(Validation, AcceptsWhatTheModuleSends)
{
    const std::string hits[] = {
        kHead + "&t=event&ec=Commands&ea=Execute&el=LINE%20(GROUPA)&ev=1",
        kHead + "&t=event&ec=Session&ea=Start&sc=start",
        kHead + "&t=event&ec=Session&ea=Global&el=Global&ev=1",
        kHead + "&t=event&ec=System&ea=Memory&el=16384&ev=0",
        // A screen view; out-of-range indexes give an empty parameter name, which is ignored.
        kHead + "&t=screenview&cd=Drawing&cd1=dwg&cm1=3&cm2=2.5&=x&=y",
    };
    for (const std::string& hit : hits)
    {
        const Verdict v = validateHit(hit);
        EXPECT_TRUE(v.valid()) << hit << ": " << v.reason();
    }
}

TEST(Validation, RejectsMissingOrWrongIdentity)
{
    const std::string event = "&t=event&ec=a&ea=b";
    const std::pair<std::string, std::string> cases[] = {
        {"tid=UA-1-1&cid=x" + event, "v"},
        {"v=2&tid=UA-1-1&cid=x" + event, "v"},
        {"v=1&cid=x" + event, "tid"},
        {"v=1&tid=UA-1&cid=x" + event, "tid"},
        {"v=1&tid=UA-12a-1&cid=x" + event, "tid"},
        {"v=1&tid=G-ABC123&cid=x" + event, "tid"},
        {"v=1&tid=ua-1-1&cid=x" + event, "tid"},
        {"v=1&tid=UA-1-1" + event, "cid"},
        {"v=1&tid=UA-1-1&cid=" + event, "cid"},
        {"v=1&tid=UA-1-1&cid=x", "t"},
        {"v=1&tid=UA-1-1&cid=x&t=click", "t"},
    };
    for (const auto& [body, parameter] : cases)
        EXPECT_EQ(problemParameters(body), std::vector<std::string>{parameter}) << body;
    EXPECT_TRUE(validateHit("v=1&tid=UA-1-1&uid=user" + event).valid());
}

TEST(Validation, EachHitTypeNeedsItsParameters)
{
    const std::string head = "v=1&tid=UA-1-1&cid=x&t=";
    EXPECT_EQ(problemParameters(head + "event"), (std::vector<std::string>{"ec", "ea"}));
    EXPECT_EQ(problemParameters(head + "event&ec=a&ea="), std::vector<std::string>{"ea"});
    EXPECT_EQ(problemParameters(head + "screenview"), std::vector<std::string>{"cd"});
    EXPECT_EQ(problemParameters(head + "item&ti=1"), std::vector<std::string>{"in"});
    EXPECT_EQ(problemParameters(head + "social&sn=a&sa=b"), std::vector<std::string>{"st"});
    EXPECT_EQ(problemParameters(head + "timing&utc=a&utv=b"), std::vector<std::string>{"utt"});
    EXPECT_EQ(problemParameters(head + "transaction"), std::vector<std::string>{"ti"});
    for (const char* ok : {"pageview", "exception", "transaction&ti=1", "timing&utc=a&utv=b&utt=5"})
        EXPECT_TRUE(validateHit(head + ok).valid()) << ok;
}

TEST(Validation, ValueTypes)
{
    const std::string base = "v=1&tid=UA-1-1&cid=x&t=event&ec=a&ea=b";
    for (const char* bad :
         {"&ev=-1", "&ev=1.5", "&ev=one", "&qt=-5", "&ni=2", "&cm3=abc", "&cm3=1e5", "&sc=restart"})
        EXPECT_FALSE(validateHit(base + bad).valid()) << bad;
    for (const char* good : {"&ev=0", "&ev=123456", "&ni=1", "&cm3=-2.25", "&cd200=x", "&cd201=x", "&sc=end"})
        EXPECT_TRUE(validateHit(base + good).valid()) << good;
}

TEST(Validation, LengthLimitsInBytesAfterDecoding)
{
    // A page view requires none of these, so each one is checked alone.
    const std::string base = "v=1&tid=UA-1-1&cid=x&t=pageview";
    const std::pair<const char*, size_t> limits[] = {{"ec", 150},  {"ea", 500}, {"el", 500}, {"cd", 2048},
                                                     {"an", 100},  {"av", 100}, {"ul", 20},  {"cd7", 150},
                                                     {"dp", 2048}, {"xid", 40}};
    for (const auto& [name, max] : limits)
    {
        SCOPED_TRACE(name);
        EXPECT_TRUE(validateHit(base + "&" + name + "=" + std::string(max, 'x')).valid());
        EXPECT_EQ(problemParameters(base + "&" + name + "=" + std::string(max + 1, 'x')),
                  std::vector<std::string>{name});
    }
    // Bytes, not characters: 75 two-byte letters fill ec exactly, one more is too many.
    std::string letters;
    for (int i = 0; i < 75; ++i)
        letters += "%C3%A4";
    EXPECT_TRUE(validateHit("v=1&tid=UA-1-1&cid=x&t=event&ea=b&ec=" + letters).valid());
    EXPECT_FALSE(validateHit("v=1&tid=UA-1-1&cid=x&t=event&ea=b&ec=" + letters + "%C3%A4").valid());
}

TEST(Validation, WholeHitProblems)
{
    const std::string base = "v=1&tid=UA-1-1&cid=x&t=event&ec=a&ea=b&el=";
    const std::string exact = base + std::string(kMaxHitBytes - base.size(), 'x');
    ASSERT_EQ(exact.size(), kMaxHitBytes);
    // el is then too long, but the body itself is within the limit.
    EXPECT_EQ(problemParameters(exact), std::vector<std::string>{"el"});
    EXPECT_EQ(problemParameters(exact + "x"), (std::vector<std::string>{"", "el"}));

    EXPECT_EQ(problemParameters("v=1&tid=UA-1-1&cid=x&t=event&ec=a&ea=b&el=100%"),
              std::vector<std::string>{""});
    EXPECT_EQ(problemParameters("v=1&tid=UA-1-1&cid=x&t=event&ec=a&ea=b&el=%FF"),
              std::vector<std::string>{""});
    EXPECT_EQ(problemParameters("v=1&tid=UA-1-1&cid=x&cid=y&t=event&ec=a&ea=b"),
              std::vector<std::string>{"cid"});
    const Verdict v = validateHit("v=1&tid=UA-1-1&cid=x&t=event&ec=a&ea=b&ev=x&el=100%");
    EXPECT_EQ(
        v.reason(),
        "a '%' is not followed by two hexadecimal digits; ev: the value must be a non-negative integer");
}

} // namespace
} // namespace zncip::collector
