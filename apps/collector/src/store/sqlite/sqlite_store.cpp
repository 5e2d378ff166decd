// The SQLite store: storing hits with their share of the rollups, reading both, and pruning raw hits.
// Forgetting a client is in sqlite_store_forget.cpp, the rollups' arithmetic RollupWriter's, the
// schema's upkeep schema.cpp's, and the SQL is in sql/.

#include "store/sqlite/sqlite_store.h"

#include "report/event_vocabulary.h"
#include "store/sqlite/schema.h"
#include "store/sqlite/sql_files.h"

#include <sys/stat.h>

#include <set>
#include <vector>

namespace zncip::collector
{
namespace sqlite
{
namespace
{

// The hits of a database from before schema 4, opened read-only, whose texts are all in the hits.
const char* const kAllHitsBeforeTextIds =
    "SELECT id, received_us, path, body, accepted, reason, user_agent FROM hits ORDER BY id";
const char* const kRejectedBeforeTextIds =
    "SELECT id, received_us, path, body, reason, user_agent FROM hits WHERE accepted = 0 AND day BETWEEN ?1 "
    "AND ?2 ORDER BY day DESC, id DESC LIMIT ?3";
const char* const kCountHits = "SELECT count(*) FROM hits";
// Changes when another connection commits; this one's own changes count too, for a store that writes.
const char* const kDataVersion = "SELECT (SELECT data_version FROM pragma_data_version()) + total_changes()";

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
        schema_ = readableVersion(db_);
        return;
    }
    configureForWriting(db_, options);
    migrate(db_);
    schema_ = sqliteSchemaVersion();
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
        throw StoreError("database " + db_.path() + " was deleted or replaced; restart the collector", true);
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
                RollupWriter::bindFacts(s, 5, d);
                int i = 9;
                for (const int64_t id : {w.agentId(h.userAgent), w.reasonId(h.reason), d.uidClient})
                    id ? s.bind(i++, id) : s.bindNull(i++);
                s.run("storing a hit");
                w.addToRollups(h, d);
            }
        });
}

void SqliteStore::forEach(const std::function<void(const StoredHit&)>& visit) const
{
    Statement select(db_, schema_ >= kTextIdsVersion ? sqlFile("all_hits.sql") : kAllHitsBeforeTextIds);
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

std::optional<int64_t> SqliteStore::dataVersion() const
{
    return std::stoll(db_.queryText(kDataVersion));
}

Rollups SqliteStore::rollups(const Period& period) const
{
    if (schema_ < kRollupsVersion)
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
    if (const auto compared = r.comparedDaysOf(period))
    {
        Statement active(db_, sqlFile("rollup_active_clients.sql"));
        active.bind(1, int64_t{compared->previousFrom})
            .bind(2, int64_t{compared->from})
            .bind(3, int64_t{compared->to});
        period.version ? active.bind(4, *period.version) : active.bindNull(4);
        eachRow(active, "reading the active clients",
                [&](const Statement& s) {
                    r.activeClients.push_back(
                        {static_cast<Rollups::Span>(s.integer(0)), dayOf(s, 1), s.integer(2)});
                });
    }
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
    static const std::string session(vocabulary::kSession), bad(vocabulary::kBad);
    clients.bind(4, session).bind(5, bad);

    std::vector<Rollups::CountOfKeyId> byId;
    eachRow(counts, "reading the daily counts",
            [&](const Statement& s) {
                byId.push_back({dayOf(s, 0), s.integer(1), s.integer(2), s.integer(3)});
            });
    Rollups::KeysById keys;
    Statement keyTexts(db_, sqlFile("rollup_keys.sql"));
    eachRow(keyTexts, "reading the rollup keys",
            [&](const Statement& s) { keys.emplace(s.integer(0), keyOf(s, 1)); });
    r.addCounts(byId, keys);
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
    if (schema_ < kRollupsVersion)
        return {};
    Statement s(db_, sqlFile("versions.sql"));
    std::vector<std::string> result;
    eachRow(s, "reading the versions", [&](const Statement& row) { result.push_back(row.text(0)); });
    return result;
}

std::vector<StoredHit> SqliteStore::rejectedSamples(const Period& period, int limit) const
{
    Statement s(db_, schema_ >= kTextIdsVersion ? sqlFile("rejected_samples.sql") : kRejectedBeforeTextIds);
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
