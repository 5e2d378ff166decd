#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace zncip::bench
{

// A month of telemetry as a fleet of desktop installations sends it, written through the collector's
// own store so that the rollups are those a running collector would have built.
struct FleetOptions
{
    int64_t hits = 10'000'000;
    int days = 30;
    int versions = 3;
    int clients = 100'000;
    int32_t lastDay = 0; // days since 1970-01-01 (UTC); 0: today
    uint64_t seed = 1;
    int hitsPerAppend = 5000;
};

struct FleetResult
{
    int64_t hits = 0;
    int64_t runs = 0;
    int32_t firstDay = 0, lastDay = 0;
    double seconds = 0;
};

// Writes the hits into a new SQLite database at path (an existing file is refused), or into the PostgreSQL
// database of a postgresql:// address. progress is called after each append with the hits written so far.
FleetResult generateFleet(const std::string& path, const FleetOptions& options,
                          const std::function<void(int64_t written, double seconds)>& progress);

// The application version the generator gives the n-th release (0-based): "1.0", "1.1", ...
std::string fleetVersion(int n);

} // namespace zncip::bench
