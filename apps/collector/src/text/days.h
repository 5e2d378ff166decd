// Calendar days (UTC) as the collector counts them, and the texts that name days and times.
#pragma once

#include <cstdint>
#include <string>

namespace zncip::collector
{

// Days since 1970-01-01 (UTC) of a time in microseconds since the epoch, and back as "YYYY-MM-DD".
int32_t dayOf(int64_t unixMicroseconds);
std::string formatDay(int32_t day);
// Reads "YYYY-MM-DD"; false when it is no such date.
bool parseDay(const std::string& text, int32_t& day);

// The first day of the ISO week (a Monday) and of the calendar month that hold a day, and the first day
// of the next month.
int32_t weekStart(int32_t day);
int32_t monthStart(int32_t day);
int32_t nextMonthStart(int32_t day);

// A time as "YYYY-MM-DDTHH:MM:SS.ffffffZ".
std::string formatTimeUtc(int64_t unixMicroseconds);

} // namespace zncip::collector
