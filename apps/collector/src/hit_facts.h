#pragma once

#include "form.h"
#include "hit_store.h"

#include <cstdint>
#include <optional>
#include <string>

namespace zncip::collector
{

// The facts of a hit: those decoded when it arrived, or else decoded from its body now.
HitFacts decodeFacts(const HitRecord& hit);
HitFacts decodeFacts(int64_t receivedUs, const DecodedForm& form);

// Days since 1970-01-01 (UTC) of a time in microseconds since the epoch, and back as "YYYY-MM-DD".
int32_t dayOf(int64_t unixMicroseconds);
std::string formatDay(int32_t day);
// Reads "YYYY-MM-DD"; false when it is no such date.
bool parseDay(const std::string& text, int32_t& day);

} // namespace zncip::collector
