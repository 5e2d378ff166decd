// The facts every report needs of a hit (day, client, event, value), read once from its decoded form.
#pragma once

#include "ingest/form.h"
#include "store/records.h"

#include <cstdint>
#include <optional>
#include <string>

namespace zncip::collector
{

// The facts of a hit: those decoded when it arrived, or else decoded from its body now.
HitFacts decodeFacts(const HitRecord& hit);
HitFacts decodeFacts(int64_t receivedUs, const DecodedForm& form);

} // namespace zncip::collector
