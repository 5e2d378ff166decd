// Numbers that the stores' C++ code and their SQL files both spell out. The SQL cannot include this file,
// so a test reads the embedded SQL and checks that it says the same.
#pragma once

#include "store/records.h"
#include "store/rollups.h"

#include <climits>
#include <cstdint>
#include <vector>

namespace zncip::collector::schema
{

// previous_day of a client's first presence under a key: before every real day.
constexpr int32_t kNoDay = INT32_MIN;

// PostgreSQL advisory locks of the whole database take two integers: this program's space, then which.
// Locks of one (client, key) take one integer (zncip_pair_lock), which PostgreSQL keeps apart from these.
constexpr int32_t kLockSpace = 7420;
constexpr int32_t kMigrationLock = 1; // collectors starting at once migrate one after the other
constexpr int32_t kErasureLock = 2;   // shared by each batch, exclusive while a client is forgotten
constexpr int32_t kPartitionLock = 3; // collectors making or dropping the day partitions of hits take turns

// Each PostgreSQL connection adds to the counter rows of its own shard, one of this many.
constexpr int kShards = 16;

// The four keys an accepted hit is counted under, most detailed first: scopes Event, EventAnyVersion,
// Application and All, in the order of RollupKey::Scope.
inline std::vector<RollupKey> keysOf(const HitFacts& f)
{
    using S = RollupKey::Scope;
    return {
        {S::Event, f.application, f.version, f.type, f.category, f.action, f.label},
        {S::EventAnyVersion, f.application, "", f.type, f.category, f.action, f.label},
        {S::Application, f.application, f.version, "", "", "", ""},
        {S::All, "", "", "", "", "", ""},
    };
}

} // namespace zncip::collector::schema
