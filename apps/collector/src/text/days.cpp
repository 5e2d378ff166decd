// Calendar days (UTC) as the collector counts them, and the texts that name days and times.
#include "text/days.h"

#include <cstdio>
#include <ctime>
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

int32_t weekStart(int32_t day)
{
    // 1970-01-01 was a Thursday: day 4 a Monday.
    return day - ((day + 3) % 7 + 7) % 7;
}

int32_t monthStart(int32_t day)
{
    int y = 0;
    unsigned m = 0, d = 0;
    civilFromDays(day, y, m, d);
    return day - static_cast<int32_t>(d) + 1;
}

int32_t nextMonthStart(int32_t day)
{
    int y = 0;
    unsigned m = 0, d = 0;
    civilFromDays(day, y, m, d);
    return m == 12 ? daysFromCivil(y + 1, 1, 1) : daysFromCivil(y, m + 1, 1);
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

} // namespace zncip::collector
