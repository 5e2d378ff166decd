// From the bytes a request brought to the records the store keeps: one hit per /collect body, one per line
// of a /batch body. Knows nothing of HTTP; the collection port calls it on its connection threads.
#pragma once

#include "store/records.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zncip::collector
{

// One hit as it arrived on path, with its verdict and its facts decoded. A body over the size a hit may
// have is kept only in part, and its reason says so: enough to see what it was, while no client can make
// the database grow faster than by one hit's size per hit.
HitRecord parseHit(std::string body, std::string_view path, std::string_view userAgent, int64_t receivedUs);

// The hits of a /batch body, one per non-empty line (a CR before the LF is dropped); none when the batch
// breaks the protocol's limits on its size, its number of hits or the size of one hit.
std::optional<std::vector<std::string>> splitBatch(std::string_view body);

} // namespace zncip::collector
