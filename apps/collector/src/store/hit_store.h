// The two faces of a store of hits: the writer that the collection port drives, and the reader that the
// reports, the export and the admin pages use. SQLite and PostgreSQL each implement both.
#pragma once

#include "store/records.h"
#include "store/rollups.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zncip::collector
{

// What forget() removed.
struct Forgotten
{
    int64_t hits = 0;        // stored hits of the client removed, accepted and rejected
    int64_t daysPresent = 0; // (key, day) entries that counted the client among distinct clients
    // Hits of the client whose raw body was already pruned stay in the daily hit counts, with nothing
    // left that links them to the client.
};

// Reads what is stored. An SQLite store is one connection: its calls must come from one thread at a time
// (a reader of its own for each thread that reads). A PostgreSQL store serialises its calls itself, so any
// thread may call it. Reading never waits for the writer of another store object: SQLite readers see the
// last commit through the write-ahead log, PostgreSQL readers through their own connection.
class HitReader
{
public:
    virtual ~HitReader() = default;
    // Calls visit for each stored hit in the order of arrival.
    virtual void forEach(const std::function<void(const StoredHit&)>& visit) const = 0;
    // How many raw hits are stored (pruned ones no longer are).
    virtual int64_t storedHits() const = 0;
    virtual Rollups rollups(const Period& period) const = 0;
    // The application versions that sent hits, in order.
    virtual std::vector<std::string> versions() const = 0;
    // The latest rejected hits of the period, newest first, for a person to look at.
    virtual std::vector<StoredHit> rejectedSamples(const Period& period, int limit) const = 0;
    // A number that differs from the last one this reader gave whenever what it reads has changed since,
    // so that what was built from it may be reused while it stays; none when the store cannot tell cheaply.
    virtual std::optional<int64_t> dataVersion() const { return std::nullopt; }
};

// Changes what is stored. The collection port's writer thread appends, or its collection thread (see
// commitsInServer); forget and prune come from the command line or the prune timer, on a store object of
// their own or between the writer's calls, never at the same time as another call on the same object (the
// same thread rule as HitReader).
class HitWriter
{
public:
    virtual ~HitWriter() = default;
    // All or nothing: when it returns, every hit and its share of the rollups is durable; when it throws,
    // none of them is, and the caller answers so that the client sends them again.
    virtual void append(const std::vector<HitRecord>& hits) = 0;
    // Removes every hit of one client (cid or uid) and takes it out of the distinct-client counts, and so
    // every client that ever sent the id as its uid beside a cid; then every row, key, agent and reason
    // that nothing else refers to any more, so that no byte the client sent stays.
    virtual Forgotten forget(const std::string& client) = 0;
    // Removes the raw hits received before the given day; the rollups keep counting them.
    virtual int64_t pruneRawBefore(int32_t day) = 0;
    // Where a store keeps each day's raw hits apart (PostgreSQL: a partition per day, which pruning drops
    // whole), makes room for the days first..last before their hits arrive. Hits of a day without room are
    // stored all the same; this only makes pruning them cheap. Nothing to do elsewhere.
    virtual void prepareDays(int32_t /*first*/, int32_t /*last*/) {}
    // How long a writer should wait to fill a batch: worth it only where a transaction costs far more
    // than its sync (a database server's round trip and call), not where it is the sync alone. Heeded
    // where a server does the commits (commitsInServer), the only stores that ask for it.
    virtual std::chrono::microseconds batchGatherWait() const { return {}; }
    // Whether a database server does a commit's work, so that the collector may wait for it on the thread
    // that serves the connections, or the store does it in this process, on a thread of its own.
    virtual bool commitsInServer() const { return false; }
};

// A database opened by the collector: both faces of one connection.
class HitStore : public HitReader, public HitWriter
{
};

// How a store is opened; one set of options for SQLite and PostgreSQL, each taking what applies to it.
struct StoreOptions
{
    // SQLite: FULL syncs the write-ahead log on every commit, so an answered hit survives a power cut;
    // NORMAL only writes it to the operating system, which survives the process being killed but not the
    // machine. PostgreSQL: off does not wait for the commit to reach the disk.
    bool syncFull = true;
    int busyTimeoutMs = 5000; // SQLite: how long to wait for another process's write lock
    // SQLite: a ceiling on the database file (0: none). Once reached, hits are answered 503 until pruning
    // or forgetting frees room, which the database then reuses by itself.
    int64_t maxBytes = 0;
    bool readOnly = false; // for report and export: never creates or migrates a database
};

// Opens (and creates, and migrates to the current schema) an SQLite database. Throws StoreError with a
// message fit for the user when the file cannot be opened, written or understood.
std::unique_ptr<HitStore> openSqliteStore(const std::string& path, const StoreOptions& options = {});

// Connects to (and creates the tables in, and migrates) a PostgreSQL database that several collectors
// may share, given as postgresql://... or postgres://... From the options, readOnly (no migration) and
// syncFull (off: commits are not waited for on disk) apply. Throws StoreError with one line fit for the
// user when the database cannot be reached, logged into or understood.
std::unique_ptr<HitStore> openPostgresStore(const std::string& uri, const StoreOptions& options = {});

// The store a --db argument names: a PostgreSQL database for an address starting with postgresql:// or
// postgres://, an SQLite file otherwise.
std::unique_ptr<HitStore> openStore(const std::string& address, const StoreOptions& options = {});

// The schema versions this build writes; a database with a newer one is refused.
int sqliteSchemaVersion();
int postgresSchemaVersion();

} // namespace zncip::collector
