// The SQLite store: storing hits with their share of the rollups, reading both, forgetting a client and
// pruning raw hits. The rollups' arithmetic is RollupWriter's, the schema's upkeep schema.cpp's, and
// the SQL is in sql/.

#include "store/sqlite/sqlite_store.h"

#include "store/sqlite/schema.h"
#include "store/sqlite/sql_files.h"

#include <sys/stat.h>

namespace zncip::collector
{
namespace sqlite
{
namespace
{

const char* const kAllHits =
    "SELECT id, received_us, path, body, accepted, reason, user_agent FROM hits ORDER BY id";
const char* const kCountHits = "SELECT count(*) FROM hits";

std::pair<dev_t, ino_t> fileIdentity(const std::string& path)
{
    struct stat file;
    if (stat(path.c_str(), &file) != 0)
        return {};
    return {file.st_dev, file.st_ino};
}

RollupKey keyOf(const Statement& s, int first)
{
    RollupKey k;
    k.scope = static_cast<RollupKey::Scope>(s.integer(first));
    k.application = s.text(first + 1);
    k.version = s.text(first + 2);
    k.type = s.text(first + 3);
    k.category = s.text(first + 4);
    k.action = s.text(first + 5);
    k.label = s.text(first + 6);
    return k;
}

int32_t dayOf(const Statement& s, int i)
{
    return static_cast<int32_t>(s.integer(i));
}

} // namespace

SqliteStore::SqliteStore(const std::string& path, const StoreOptions& options) : db_(path, options)
{
    if (options.readOnly)
    {
        olderSchema_ = holdsOlderSchema(db_);
        return;
    }
    configureForWriting(db_, options);
    migrate(db_);
    file_ = fileIdentity(path); // now that the file surely exists
    writer_ = std::make_unique<RollupWriter>(db_);
    insert_ = std::make_unique<Statement>(db_, sqlFile("insert_hit.sql"));
}

RollupWriter& SqliteStore::writer()
{
    if (!writer_)
        throw StoreError("database " + db_.path() + " was opened read-only");
    return *writer_;
}

void SqliteStore::checkSameFile() const
{
    // SQLite goes on writing to a file that was deleted or replaced, and what it writes there is lost.
    const auto now = fileIdentity(db_.path());
    if (now == std::pair<dev_t, ino_t>{} || now != file_)
        throw StoreError("database " + db_.path() + " was deleted or replaced; restart the collector");
}

void SqliteStore::append(const std::vector<HitRecord>& hits)
{
    checkSameFile();
    RollupWriter& w = writer();
    w.transaction(
        [&]
        {
            for (const HitRecord& h : hits)
            {
                const RollupWriter::Decoded d = w.decode(h);
                Statement& s = *insert_;
                s.bind(1, h.receivedUs).bind(2, h.path).bindBlob(3, h.body).bind(4, h.accepted ? 1 : 0);
                s.bind(5, h.reason).bind(6, h.userAgent);
                RollupWriter::bindFacts(s, 7, d).run("storing a hit");
                w.addToRollups(h, d);
            }
        });
}

void SqliteStore::forEach(const std::function<void(const StoredHit&)>& visit) const
{
    Statement select(db_, kAllHits);
    StoredHit hit;
    eachRow(select, "reading hits",
            [&](const Statement& s)
            {
                hit.id = s.integer(0);
                hit.receivedUs = s.integer(1);
                hit.path = s.text(2);
                hit.body = s.text(3);
                hit.accepted = s.integer(4) != 0;
                hit.reason = s.text(5);
                hit.userAgent = s.text(6);
                visit(hit);
            });
}

int64_t SqliteStore::storedHits() const
{
    Statement s(db_, kCountHits);
    int64_t n = 0;
    eachRow(s, "counting hits", [&](const Statement& row) { n = row.integer(0); });
    return n;
}

Rollups SqliteStore::rollups(const Period& period) const
{
    if (olderSchema_)
        throw StoreError(db_.path() + " was written by an older collector, which kept no rollups; start "
                                      "zncip-collector serve on it once to upgrade it");
    Rollups r;
    Statement bounds(db_, sqlFile("rollup_bounds.sql"));
    eachRow(bounds, "reading the rollups",
            [&](const Statement& s)
            {
                for (int i : {0, 2})
                    if (!s.isNull(i))
                        r.coverDays(dayOf(s, i), dayOf(s, i + 1));
            });
    const auto days = r.storedDaysOf(period);
    if (!days)
        return r;
    Statement counts(db_, sqlFile("rollup_counts.sql"));
    Statement clients(db_, sqlFile("rollup_clients.sql"));
    Statement daily(db_, sqlFile("rollup_daily_clients.sql"));
    Statement rejections(db_, sqlFile("rollup_rejections.sql"));
    // Every query of the period takes its days as ?1 and ?2; those of a version take it, or NULL, as ?3.
    for (Statement* s : {&counts, &clients, &daily, &rejections})
        s->bind(1, int64_t{days->first}).bind(2, int64_t{days->second});
    for (Statement* s : {&counts, &clients, &daily})
        period.version ? s->bind(3, *period.version) : s->bindNull(3);

    eachRow(counts, "reading the daily counts",
            [&](const Statement& s) {
                r.counts.push_back({dayOf(s, 0), keyOf(s, 1), s.integer(8), s.integer(9)});
            });
    eachRow(clients, "reading the client counts",
            [&](const Statement& s) {
                r.clients.push_back({keyOf(s, 0), s.integer(7)});
            });
    eachRow(daily, "reading the daily client counts",
            [&](const Statement& s) {
                r.dailyClients.push_back({dayOf(s, 0), keyOf(s, 1), s.integer(8)});
            });
    eachRow(rejections, "reading the rejections",
            [&](const Statement& s) {
                r.rejections.push_back({dayOf(s, 0), s.text(1), s.integer(2)});
            });
    return r;
}

std::vector<std::string> SqliteStore::versions() const
{
    if (olderSchema_)
        return {};
    Statement s(db_, sqlFile("versions.sql"));
    std::vector<std::string> result;
    eachRow(s, "reading the versions", [&](const Statement& row) { result.push_back(row.text(0)); });
    return result;
}

std::vector<StoredHit> SqliteStore::rejectedSamples(const Period& period, int limit) const
{
    Statement s(db_, sqlFile("rejected_samples.sql"));
    s.bind(1, period.from).bind(2, period.to).bind(3, limit);
    std::vector<StoredHit> result;
    eachRow(s, "reading rejected hits",
            [&](const Statement& row)
            {
                StoredHit h;
                h.id = row.integer(0);
                h.receivedUs = row.integer(1);
                h.path = row.text(2);
                h.body = row.text(3);
                h.reason = row.text(4);
                h.userAgent = row.text(5);
                result.push_back(std::move(h));
            });
    return result;
}

Forgotten SqliteStore::forget(const std::string& cid)
{
    Forgotten gone;
    RollupWriter& w = writer();
    const int64_t client = w.knownClient(cid);
    if (!client)
        return gone;
    const HitsOf found = findHitsOf(client);
    w.transaction(
        [&]
        {
            Statement(db_, sqlFile("record_erasure.sql")).run("recording the erasure");
            gone.hits = removeHitsOf(client, found);
            gone.daysPresent = removePresenceOf(client);
        });
    return gone;
}

SqliteStore::HitsOf SqliteStore::findHitsOf(int64_t client)
{
    // The hits are not indexed by client: an index that every hit adds to at a random place would cost
    // each commit a page per hit. So the client's hits are found by reading them all, before the write
    // lock is taken, while hits go on being stored; those that arrive meanwhile follow the last id read.
    HitsOf found;
    Statement last(db_, sqlFile("forget_last_hit.sql"));
    Statement scan(db_, sqlFile("forget_find_hits.sql"));
    db_.exec("BEGIN");
    try
    {
        eachRow(last, "reading hits", [&](const Statement& s) { found.lastRead = s.integer(0); });
        scan.bind(1, client);
        eachRow(scan, "finding the client's hits",
                [&](const Statement& s) { found.ids.push_back(s.integer(0)); });
        db_.exec("COMMIT");
    }
    catch (...)
    {
        db_.rollback();
        throw;
    }
    return found;
}

int64_t SqliteStore::removeHitsOf(int64_t client, const HitsOf& found)
{
    int64_t removed = 0;
    // Each hit removed is taken out of the counts as it was stored.
    auto uncount = [&](Statement& remove)
    {
        eachRow(remove, "removing the client's hits",
                [&](const Statement& h)
                {
                    ++removed;
                    writer_->uncountHit(dayOf(h, 0), h.integer(1), h.integer(2) != 0, h.integer(3),
                                        h.text(4));
                });
    };
    Statement removeOne(db_, sqlFile("forget_hit.sql"));
    for (const int64_t id : found.ids)
    {
        removeOne.bind(1, id).bind(2, client);
        uncount(removeOne);
    }
    Statement removeLater(db_, sqlFile("forget_hits_after.sql"));
    removeLater.bind(1, found.lastRead).bind(2, client);
    uncount(removeLater);
    return removed;
}

int64_t SqliteStore::removePresenceOf(int64_t client)
{
    Statement days(db_, sqlFile("forget_days_present.sql"));
    days.bind(1, client);
    std::vector<std::pair<int64_t, int32_t>> present;
    eachRow(days, "reading the client's days",
            [&](const Statement& s) { present.emplace_back(s.integer(0), dayOf(s, 1)); });
    writer_->uncountPresence(present);
    Statement(db_, sqlFile("forget_presence.sql")).bind(1, client).run("removing the client's days");
    const int64_t removed = db_.changes();
    Statement(db_, sqlFile("forget_client.sql")).bind(1, client).run("removing the client");
    return removed;
}

int64_t SqliteStore::pruneRawBefore(int32_t day)
{
    // In short transactions, so that hits arriving meanwhile wait for one of them at most.
    RollupWriter& w = writer();
    Statement prune(db_, sqlFile("prune_raw_hits.sql"));
    int64_t removed = 0;
    for (int changed = 1; changed;)
    {
        w.transaction(
            [&]
            {
                prune.bind(1, day).run("pruning hits");
                changed = db_.changes();
            });
        removed += changed;
    }
    return removed;
}

} // namespace sqlite

std::unique_ptr<HitStore> openSqliteStore(const std::string& path, const StoreOptions& options)
{
    return std::make_unique<sqlite::SqliteStore>(path, options);
}

} // namespace zncip::collector
