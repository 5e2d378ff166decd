#pragma once

#include "hit_store.h"

#include <cstdint>
#include <optional>
#include <string>

namespace zncip::collector
{

// What every report needs of one hit, decoded once when it arrives and stored beside the raw body.
// Absent parameters are empty strings. A rejected hit keeps only its day and, when it names one, its
// client, so that forgetting a client removes its rejected hits too.
struct HitFacts
{
    int32_t day = 0; // days since 1970-01-01, UTC, of the time received
    std::string client; // cid, or uid when there is no cid
    std::string type;   // t
    std::string application, version; // an, av
    std::string category, action, label; // ec, ea, el
    std::optional<int64_t> value;        // ev
};

HitFacts decodeFacts(const HitRecord& hit);

// Days since 1970-01-01 (UTC) of a time in microseconds since the epoch, and back as "YYYY-MM-DD".
int32_t dayOf(int64_t unixMicroseconds);
std::string formatDay(int32_t day);
// Reads "YYYY-MM-DD"; false when it is no such date.
bool parseDay(const std::string& text, int32_t& day);

} // namespace zncip::collector
