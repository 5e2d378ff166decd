// The hit store on a PostgreSQL database that several collectors share (openPostgresStore() makes one).
// The tables and functions are those of sql/migration*/; a batch of hits is one call of zncip_append(),
// and each connection adds to counter rows of its own shard. The writer remembers which (client, day, key)
// it stored, so that hits bringing none new skip that work; it forgets them whenever any collector forgot
// a client. One connection; its mutex serialises the calls, so any thread may make them.
#pragma once

#include "store/hit_store.h"
#include "store/postgres/connection.h"
#include "store/postgres/known_ids.h"
#include "store/postgres/presence_cache.h"

#include <mutex>

namespace zncip::collector::postgres
{

class PostgresStore : public HitStore
{
public:
    PostgresStore(const std::string& uri, const StoreOptions& options);

    void append(const std::vector<HitRecord>& hits) override;
    // A call of the batch function costs about as much for one hit as for eight.
    std::chrono::microseconds batchGatherWait() const override { return std::chrono::microseconds(500); }
    bool commitsInServer() const override { return true; }
    Forgotten forget(const std::string& client) override;
    int64_t pruneRawBefore(int32_t day) override;
    void prepareDays(int32_t first, int32_t last) override;

    void forEach(const std::function<void(const StoredHit&)>& visit) const override;
    int64_t storedHits() const override;
    Rollups rollups(const Period& period) const override;
    std::vector<std::string> versions() const override;
    std::vector<StoredHit> rejectedSamples(const Period& period, int limit) const override;

private:
    mutable std::mutex mutex_; // one call on the connection at a time
    mutable Connection connection_;
    PresenceCache present_;
    KnownIds ids_;
};

} // namespace zncip::collector::postgres
