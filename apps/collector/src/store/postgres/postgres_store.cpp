// The PostgreSQL store's calls, each one or a few prepared statements on its connection.
#include "store/postgres/postgres_store.h"

#include "store/postgres/append_batch.h"
#include "store/postgres/queries.h"
#include "store/postgres/schema.h"

#include "report/event_vocabulary.h"

#include <cstdlib>

namespace zncip::collector
{
namespace postgres
{
namespace
{

// The seven columns of a rollup key from the first one on.
RollupKey keyOf(const PGresult* r, int row, int first)
{
    RollupKey k;
    k.scope = static_cast<RollupKey::Scope>(integer(r, row, first));
    k.application = bytes(r, row, first + 1);
    k.version = bytes(r, row, first + 2);
    k.type = bytes(r, row, first + 3);
    k.category = bytes(r, row, first + 4);
    k.action = bytes(r, row, first + 5);
    k.label = bytes(r, row, first + 6);
    return k;
}

int32_t day(const PGresult* r, int row, int column)
{
    return static_cast<int32_t>(integer(r, row, column));
}

// The days stored in the counts and the rejections.
void readBounds(Connection& c, Rollups& out)
{
    const Result bounds = c.run(kBounds, {}, "reading the rollups");
    for (int i : {0, 2})
        if (!PQgetisnull(bounds.get(), 0, i))
            out.coverDays(day(bounds.get(), 0, i), day(bounds.get(), 0, i + 1));
}

// The rollups of the days from..to, of one version or all.
void readDays(Connection& c, int32_t from, int32_t to, const std::optional<std::string>& version,
              Rollups& out)
{
    Params days;
    days.add(from).add(to);
    Params ofVersion = days;
    version ? ofVersion.add(*version) : ofVersion.addNull();

    const Result counts = c.run(kCounts, ofVersion, "reading the daily counts");
    std::vector<Rollups::CountOfKeyId> byId;
    byId.reserve(static_cast<size_t>(PQntuples(counts.get())));
    for (int i = 0; i < PQntuples(counts.get()); ++i)
        byId.push_back({day(counts.get(), i, 0), integer(counts.get(), i, 1), integer(counts.get(), i, 2),
                        integer(counts.get(), i, 3)});
    const Result keyTexts = c.run(kKeys, {}, "reading the rollup keys");
    Rollups::KeysById keys;
    for (int i = 0; i < PQntuples(keyTexts.get()); ++i)
        keys.emplace(integer(keyTexts.get(), i, 0), keyOf(keyTexts.get(), i, 1));
    out.addCounts(byId, keys);
    Params clientsOf = ofVersion;
    clientsOf.add(std::string(vocabulary::kSession)).add(std::string(vocabulary::kBad));
    const Result clients = c.run(kClients, clientsOf, "reading the client counts");
    for (int i = 0; i < PQntuples(clients.get()); ++i)
        out.clients.push_back({keyOf(clients.get(), i, 0), integer(clients.get(), i, 7)});
    const Result daily = c.run(kDaily, ofVersion, "reading the daily client counts");
    for (int i = 0; i < PQntuples(daily.get()); ++i)
        out.dailyClients.push_back(
            {day(daily.get(), i, 0), keyOf(daily.get(), i, 1), integer(daily.get(), i, 8)});
    const Result rejections = c.run(kRejections, days, "reading the rejections");
    for (int i = 0; i < PQntuples(rejections.get()); ++i)
        out.rejections.push_back(
            {day(rejections.get(), i, 0), bytes(rejections.get(), i, 1), integer(rejections.get(), i, 2)});
}

// Distinct clients of each day, week and month of the period and of the previous one.
void readActiveClients(Connection& c, const Rollups::ComparedDays& days,
                       const std::optional<std::string>& version, Rollups& out)
{
    Params p;
    p.add(days.previousFrom).add(days.from).add(days.to);
    version ? p.add(*version) : p.addNull();
    const Result r = c.run(kActiveClients, p, "reading the active clients");
    for (int i = 0; i < PQntuples(r.get()); ++i)
        out.activeClients.push_back(
            {static_cast<Rollups::Span>(integer(r.get(), i, 0)), day(r.get(), i, 1), integer(r.get(), i, 2)});
}

} // namespace

PostgresStore::PostgresStore(const std::string& uri, const StoreOptions& options)
    : connection_(uri, options.syncFull)
{
    if (options.maxBytes > 0)
        throw StoreError("a ceiling on the database size is for an SQLite file; a shared PostgreSQL "
                         "database is bounded by the server's own means");
    connection_.connect();
    if (options.readOnly)
        checkReadable(connection_);
    else
        migrate(connection_);
    connection_.prepare();
}

void PostgresStore::append(const std::vector<HitRecord>& hits)
{
    if (hits.empty())
        return;
    std::lock_guard<std::mutex> lock(mutex_);
    AppendBatch batch = encodeAppend(hits, connection_.shard(), present_, ids_);
    Result r = connection_.runRetrying(kAppend, batch.params, "storing hits");
    if (PQntuples(r.get()) == 0)
    {
        // A client was forgotten since the ids were learned, and may have taken their rows along; nothing
        // was stored. Asked again by texts, the function stores the batch whatever the generation.
        ids_.clear();
        batch = encodeAppend(hits, connection_.shard(), present_, ids_);
        r = connection_.runRetrying(kAppend, batch.params, "storing hits");
        if (PQntuples(r.get()) == 0)
            throw StoreError("storing hits failed: " + connection_.described() +
                             " refused the batch by texts");
    }
    // Committed: these clients are present from now on, and the ids valid, until one is forgotten anywhere.
    learnIds(batch, r.get(), ids_);
    present_.stored(integer(r.get(), 0, 0), std::move(batch.presence));
}

Forgotten PostgresStore::forget(const std::string& client)
{
    std::lock_guard<std::mutex> lock(mutex_);
    present_.clear();
    ids_.clear();
    Params p;
    p.add(connection_.shard()).add(client);
    const Result r = connection_.runRetrying(kForget, p, "forgetting a client");
    return {integer(r.get(), 0, 0), integer(r.get(), 0, 1)};
}

int64_t PostgresStore::pruneRawBefore(int32_t day)
{
    // Whole days first, then what hits_default holds of them, each statement its own short transaction so
    // that hits arriving meanwhile hardly wait.
    std::lock_guard<std::mutex> lock(mutex_);
    Params p;
    p.add(day);
    const Result dropped = connection_.run(kDropDays, p, "dropping the partitions of old days");
    int64_t removed = integer(dropped.get(), 0, 0);
    for (;;)
    {
        const Result r = connection_.run(kPrune, p, "pruning hits");
        const int64_t changed = std::atoll(PQcmdTuples(r.get()));
        if (changed == 0)
            return removed;
        removed += changed;
    }
}

void PostgresStore::prepareDays(int32_t first, int32_t last)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Params p;
    p.add(first).add(last);
    connection_.run(kPrepareDays, p, "making the partitions of the days ahead");
}

void PostgresStore::forEach(const std::function<void(const StoredHit&)>& visit) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    StoredHit hit;
    connection_.stream(kEach, "reading hits",
                       [&](const PGresult* row)
                       {
                           hit.id = integer(row, 0, 0);
                           hit.receivedUs = integer(row, 0, 1);
                           hit.path = bytes(row, 0, 2);
                           hit.body = bytes(row, 0, 3);
                           hit.accepted = integer(row, 0, 4) != 0;
                           hit.reason = bytes(row, 0, 5);
                           hit.userAgent = bytes(row, 0, 6);
                           visit(hit);
                       });
}

int64_t PostgresStore::storedHits() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    const Result r = connection_.run(kCount, {}, "counting hits");
    return integer(r.get(), 0, 0);
}

Rollups PostgresStore::rollups(const Period& period) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    Rollups r;
    readBounds(connection_, r);
    if (const auto days = r.storedDaysOf(period))
        readDays(connection_, days->first, days->second, period.version, r);
    if (const auto compared = r.comparedDaysOf(period))
        readActiveClients(connection_, *compared, period.version, r);
    return r;
}

std::vector<std::string> PostgresStore::versions() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    const Result r = connection_.run(kVersions, {}, "reading the versions");
    std::vector<std::string> result;
    for (int i = 0; i < PQntuples(r.get()); ++i)
        result.push_back(bytes(r.get(), i, 0));
    return result;
}

std::vector<StoredHit> PostgresStore::rejectedSamples(const Period& period, int limit) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    Params p;
    p.add(period.from).add(period.to).add(int32_t{limit});
    const Result r = connection_.run(kRejected, p, "reading rejected hits");
    std::vector<StoredHit> result;
    for (int i = 0; i < PQntuples(r.get()); ++i)
    {
        StoredHit h;
        h.id = integer(r.get(), i, 0);
        h.receivedUs = integer(r.get(), i, 1);
        h.path = bytes(r.get(), i, 2);
        h.body = bytes(r.get(), i, 3);
        h.reason = bytes(r.get(), i, 4);
        h.userAgent = bytes(r.get(), i, 5);
        result.push_back(std::move(h));
    }
    return result;
}

} // namespace postgres

std::unique_ptr<HitStore> openPostgresStore(const std::string& uri, const StoreOptions& options)
{
    return std::make_unique<postgres::PostgresStore>(uri, options);
}

} // namespace zncip::collector
