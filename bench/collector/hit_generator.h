// A generated fleet's telemetry for the benchmarks, written through the collector's own store.
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
    // The runs' own stream (which clients start on which day, what they type); 0: the stream of seed.
    // The installations and their weights always come from seed, so the same fleet grows day by day when
    // each day is generated with its own runSeed.
    uint64_t runSeed = 0;
    // Version n is released on day n * releaseDays / versions of a period (0: days) of which the days
    // generated start at dayOffset: a day generated alone sees the releases of the month it belongs to.
    int releaseDays = 0;
    int dayOffset = 0;
    int hitsPerAppend = 5000;
    bool append = false; // add to a database that holds hits already, instead of refusing it
};

struct FleetResult
{
    int64_t hits = 0;
    int64_t runs = 0;
    int32_t firstDay = 0, lastDay = 0;
    double seconds = 0;
};

// Writes the hits into a new database at address: an SQLite file (an existing one is refused) or a
// postgresql:// address (one that holds hits already is refused), either taken as it is with append.
// progress is called after each append with the hits written so far.
FleetResult generateFleet(const std::string& path, const FleetOptions& options,
                          const std::function<void(int64_t written, double seconds)>& progress);

// The application version the generator gives the n-th release (0-based): "1.0", "1.1", ...
std::string fleetVersion(int n);

} // namespace zncip::bench
