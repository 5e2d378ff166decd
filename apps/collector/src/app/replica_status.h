// How far behind the database the admin pages read is, for GET /api/status, and the checks serve makes
// before it lets the pages read a hot standby (--read-db) instead of the database it writes. json() may be
// called from any thread: the calls share one connection of their own under a lock, so that asking for
// the lag never waits for the pages' reader or the writer.
#pragma once

#include "store/postgres/connection.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <string>

namespace zncip::collector
{

class ReplicaStatus
{
public:
    // address: the database the pages read; an SQLite file is never a replica and is not opened.
    explicit ReplicaStatus(const std::string& address);

    // {"replica":true|false,"lag_seconds":S|null,"data_as_of":"YYYY-MM-DDTHH:MM:SS.mmmZ"|null}: whether the
    // database is a standby, how long ago the primary committed the last change it has replayed, and when.
    // Both are null on a primary, and on a standby that has replayed nothing since it started. Throws
    // StoreError when the database cannot be reached; the next call connects again.
    std::string json();

private:
    std::mutex mutex_;
    std::unique_ptr<postgres::Connection> connection_; // null for an SQLite file
    bool connected_ = false;
};

bool isPostgresAddress(const std::string& address);

// Why the pages cannot read readDb beside a writer on db: empty when they can as far as the addresses tell.
std::string readReplicaProblem(const std::string& db, const std::string& readDb);

// Waits, at most `patience`, until the standby readDb has replayed everything the primary db had committed
// when called, so that a schema the writer has just created or migrated is there for the pages to open.
// Returns false when the standby is still behind then; returns at once when readDb is not in recovery.
// Throws StoreError when either database cannot be reached.
bool awaitReplay(const std::string& db, const std::string& readDb, std::chrono::milliseconds patience);

} // namespace zncip::collector
