#include "hit_facts.h"

#include "form.h"

#include <cstdio>
#include <tuple>

namespace zncip::collector
{
namespace
{

constexpr int64_t kMicrosecondsPerDay = 86400LL * 1000000LL;

// Days from the civil date, and back, in the proleptic Gregorian calendar (Howard Hinnant's algorithms).
int32_t daysFromCivil(int y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int>(doe) - 719468;
}

void civilFromDays(int32_t z, int& y, unsigned& m, unsigned& d)
{
    z += 719468;
    const int era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<int>(yoe) + era * 400 + (m <= 2);
}

bool parseInteger(const std::string& text, int64_t& value)
{
    if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = std::stoll(text);
    return true;
}

} // namespace

int32_t dayOf(int64_t unixMicroseconds)
{
    int64_t day = unixMicroseconds / kMicrosecondsPerDay;
    if (unixMicroseconds % kMicrosecondsPerDay < 0)
        --day;
    return static_cast<int32_t>(day);
}

std::string formatDay(int32_t day)
{
    int y;
    unsigned m, d;
    civilFromDays(day, y, m, d);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u", y, m, d);
    return text;
}

bool parseDay(const std::string& text, int32_t& day)
{
    int y;
    unsigned m, d;
    char end;
    if (text.size() != 10 || text[4] != '-' || text[7] != '-' ||
        std::sscanf(text.c_str(), "%4d-%2u-%2u%c", &y, &m, &d, &end) != 3 || m < 1 || m > 12 || d < 1)
        return false;
    day = daysFromCivil(y, m, d);
    int y2;
    unsigned m2, d2;
    civilFromDays(day, y2, m2, d2);
    return std::tie(y, m, d) == std::tie(y2, m2, d2); // refuses 2026-02-30
}

HitFacts decodeFacts(const HitRecord& hit)
{
    return hit.facts ? *hit.facts : decodeFacts(hit.receivedUs, decodeForm(hit.body));
}

HitFacts decodeFacts(int64_t receivedUs, const DecodedForm& form)
{
    HitFacts facts;
    facts.day = dayOf(receivedUs);
    std::string cid, uid, ev;
    for (const FormField& f : form.fields)
    {
        // The first occurrence counts; a hit with a parameter twice is rejected anyway.
        std::string* target = f.name == "cid"   ? &cid
                              : f.name == "uid" ? &uid
                              : f.name == "t"   ? &facts.type
                              : f.name == "an"  ? &facts.application
                              : f.name == "av"  ? &facts.version
                              : f.name == "ec"  ? &facts.category
                              : f.name == "ea"  ? &facts.action
                              : f.name == "el"  ? &facts.label
                              : f.name == "ev"  ? &ev
                                                : nullptr;
        if (target && target->empty())
            *target = f.value;
    }
    facts.client = cid.empty() ? uid : cid;
    int64_t value = 0;
    if (parseInteger(ev, value))
        facts.value = value;
    return facts;
}

} // namespace zncip::collector
