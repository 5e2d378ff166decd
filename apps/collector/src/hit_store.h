#pragma once

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace zncip::collector
{

// What every report needs of one hit, decoded once when it arrives and stored beside the raw body.
// Absent parameters are empty strings. A rejected hit keeps only its day and, when it names one, its
// client, so that forgetting a client removes its rejected hits too.
struct HitFacts
{
    int32_t day = 0;                     // days since 1970-01-01, UTC, of the time received
    std::string client;                  // cid, or uid when there is no cid
    std::string type;                    // t
    std::string application, version;    // an, av
    std::string category, action, label; // ec, ea, el
    std::optional<int64_t> value;        // ev
};

// One request body as it arrived, with the verdict given to it.
struct HitRecord
{
    int64_t receivedUs = 0; // microseconds since the Unix epoch
    std::string path;       // the path it was posted to: "/collect" or "/batch"
    std::string body;       // exactly the bytes received (one line of a /batch body)
    bool accepted = false;
    std::string reason; // why it was rejected; empty when accepted
    std::string userAgent;
    // Decoded by the request's thread, so that the one thread that writes does not have to; when absent
    // the store decodes the body.
    std::optional<HitFacts> facts;
};

struct StoredHit : HitRecord
{
    int64_t id = 0;
};

class StoreError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The days a report covers, both included, and optionally one application version.
struct Period
{
    int32_t from = INT32_MIN;
    int32_t to = INT32_MAX;
    std::optional<std::string> version;
};

// Hits are counted under a key of what they say. The rollups hold, for each day, how many hits arrived
// under each key, and which clients sent at least one of them, at four levels of detail.
struct RollupKey
{
    enum class Scope : int
    {
        Event = 0,       // application, version, type, category, action, label
        EventAnyVersion, // as Event with version empty: the same event in any version
        Application,     // application and version only
        All,             // every accepted hit
    };
    Scope scope = Scope::Event;
    std::string application, version, type, category, action, label;
};

// What the rollups say about a period. Each figure is read from the rollups alone, so reading it takes
// as long as there are distinct keys and days, however many hits they count.
struct Rollups
{
    struct Count
    {
        int32_t day;
        RollupKey key; // scope Event
        int64_t hits;
        int64_t valueSum; // of ev
    };
    struct Clients
    {
        RollupKey key;
        int64_t clients; // distinct clients that sent at least one such hit in the period
    };
    struct DailyClients
    {
        int32_t day;
        RollupKey key; // scope Application or All
        int64_t clients;
    };
    struct Rejections
    {
        int32_t day;
        std::string reason;
        int64_t hits;
    };
    // Of the period, and of the version when one is chosen. Clients holds the keys of scope Event when a
    // version is chosen and EventAnyVersion when not, plus Application and All.
    std::vector<Count> counts;
    std::vector<Clients> clients;
    std::vector<DailyClients> dailyClients;
    std::vector<Rejections> rejections;       // not filtered by version: a rejected hit may have none
    std::optional<int32_t> firstDay, lastDay; // of everything stored, whatever the period

    // Widens firstDay..lastDay to take in the days first..last of one table.
    void coverDays(int32_t first, int32_t last)
    {
        firstDay = firstDay ? std::min(*firstDay, first) : first;
        lastDay = lastDay ? std::max(*lastDay, last) : last;
    }
    // The days of the period within those stored, so that a walk over its days stays short; none when
    // nothing stored falls in it.
    std::optional<std::pair<int32_t, int32_t>> storedDaysOf(const Period& period) const
    {
        if (!firstDay)
            return std::nullopt;
        const int32_t from = std::max(period.from, *firstDay), to = std::min(period.to, *lastDay);
        return from <= to ? std::optional(std::pair(from, to)) : std::nullopt;
    }
};

// What forget() removed.
struct Forgotten
{
    int64_t hits = 0;        // stored hits of the client removed, accepted and rejected
    int64_t daysPresent = 0; // (key, day) entries that counted the client among distinct clients
    // Hits of the client whose raw body was already pruned stay in the daily hit counts, with nothing
    // left that links them to the client.
};

// Where hits are kept. append() is all or nothing: when it returns, every hit and its share of the
// rollups is durable; when it throws, none of them is, and the caller answers so that the client sends
// them again.
class HitStore
{
public:
    virtual ~HitStore() = default;
    virtual void append(const std::vector<HitRecord>& hits) = 0;
    // Calls visit for each stored hit in the order of arrival.
    virtual void forEach(const std::function<void(const StoredHit&)>& visit) const = 0;
    virtual int64_t count() const = 0;
    virtual Rollups rollups(const Period& period) const = 0;
    // The application versions that sent hits, in order.
    virtual std::vector<std::string> versions() const = 0;
    // The latest rejected hits of the period, newest first, for a person to look at.
    virtual std::vector<StoredHit> rejectedSamples(const Period& period, int limit) const = 0;
    // Removes every hit of one client (cid or uid) and takes it out of the distinct-client counts.
    virtual Forgotten forget(const std::string& client) = 0;
    // Removes the raw hits received before the given day; the rollups keep counting them.
    virtual int64_t pruneRawBefore(int32_t day) = 0;
    // How long a writer should wait to fill a batch: worth it only where a transaction costs far more
    // than its sync (a database server's round trip and call), not where it is the sync alone.
    virtual std::chrono::microseconds batchGatherWait() const { return {}; }
};

struct SqliteOptions
{
    // FULL syncs the write-ahead log on every commit, so an answered hit survives a power cut; NORMAL
    // only writes it to the operating system, which survives the process being killed but not the machine.
    bool syncFull = true;
    int busyTimeoutMs = 5000;
    // A ceiling on the database file (0: none). Once reached, hits are answered 503 until pruning or
    // forgetting frees room, which the database then reuses by itself.
    int64_t maxBytes = 0;
    bool readOnly = false; // for report and export: never creates or migrates a database
};

// Opens (and creates, and migrates to the current schema) an SQLite database. Throws StoreError with a
// message fit for the user when the file cannot be opened, written or understood.
std::unique_ptr<HitStore> openSqliteStore(const std::string& path, const SqliteOptions& options = {});

// Connects to (and creates the tables in, and migrates) a PostgreSQL database that several collectors
// may share, given as postgresql://... or postgres://... From the options, readOnly (no migration) and
// syncFull (off: commits are not waited for on disk) apply. Throws StoreError with one line fit for the
// user when the database cannot be reached, logged into or understood.
std::unique_ptr<HitStore> openPostgresStore(const std::string& uri, const SqliteOptions& options = {});

// The store a --db argument names: a PostgreSQL database for an address starting with postgresql:// or
// postgres://, an SQLite file otherwise.
std::unique_ptr<HitStore> openStore(const std::string& address, const SqliteOptions& options = {});

// The schema versions this build writes; a database with a newer one is refused.
int sqliteSchemaVersion();
int postgresSchemaVersion();

} // namespace zncip::collector
