// The SQLite store's schema: its versions, the checks made when a database is opened, and the migrations,
// whose SQL is in sql/NNN_*.sql.

#include "store/sqlite/schema.h"

#include "store/sqlite/rollup_writer.h"
#include "store/sqlite/sql_files.h"
#include "store/sqlite/statement.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <iterator>

namespace zncip::collector
{
namespace sqlite
{
namespace
{

// In order: migration i brings a database to schema version i + 1.
const char* const kMigrations[] = {"001_hits.sql", "002_hits_by_verdict.sql", "003_rollups.sql",
                                   "004_texts_once.sql"};

const char* const kCreateVersions =
    "CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL, applied_us INTEGER NOT NULL)";
const char* const kHasVersions =
    "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'schema_version'";
const char* const kLatestVersion = "SELECT max(version) FROM schema_version";
const char* const kCountHits = "SELECT count(*) FROM hits";
const char* const kHitsToDecode = "SELECT id, received_us, body, accepted, reason FROM hits ORDER BY id";
const char* const kHitsToLink = "SELECT id, received_us, body FROM hits WHERE client IS NOT NULL ORDER BY id";
const char* const kRecordVersion =
    "INSERT INTO schema_version VALUES (?, CAST((julianday('now') - 2440587.5) * 86400000000 AS INTEGER))";

int currentVersion(const Connection& db)
{
    Statement exists(db, kHasVersions);
    int64_t tables = 0;
    eachRow(exists, ("reading database " + db.path()).c_str(),
            [&](const Statement& s) { tables = s.integer(0); });
    if (tables == 0)
        return 0;
    Statement version(db, kLatestVersion);
    int64_t v = 0;
    eachRow(version, ("reading the schema version of " + db.path()).c_str(),
            [&](const Statement& s) { v = s.integer(0); });
    return static_cast<int>(v);
}

void refuseNewer(const Connection& db, int version)
{
    if (version > sqliteSchemaVersion())
        throw StoreError(db.path() + " was written by a newer collector (schema " + std::to_string(version) +
                         ")");
}

// Hits stored before the rollups existed: decoded and counted in the order they arrived, in the
// migration's transaction.
void decodeStoredHits(const Connection& db)
{
    RollupWriter writer(db);
    Statement setFacts(db, sqlFile("set_hit_facts.sql"));
    Statement total(db, kCountHits);
    int64_t n = 0;
    eachRow(total, "counting hits", [&](const Statement& s) { n = s.integer(0); });
    const char* path = db.path().c_str();
    std::fprintf(stderr, "zncip-collector: upgrading %s: decoding %lld stored hits\n", path,
                 static_cast<long long>(n));
    Statement select(db, kHitsToDecode);
    int64_t done = 0;
    HitRecord hit;
    eachRow(select, "reading hits",
            [&](const Statement& s)
            {
                hit.receivedUs = s.integer(1);
                hit.body = s.text(2);
                hit.accepted = s.integer(3) != 0;
                hit.reason = s.text(4);
                const RollupWriter::Decoded d = writer.decode(hit);
                RollupWriter::bindFacts(setFacts, 1, d);
                d.uidClient ? setFacts.bind(5, d.uidClient) : setFacts.bindNull(5);
                setFacts.bind(6, s.integer(0)).run("decoding a hit");
                writer.addToRollups(hit, d);
                if (++done % 100000 == 0)
                    std::fprintf(stderr, "zncip-collector: upgrading %s: %lld of %lld hits\n", path,
                                 static_cast<long long>(done), static_cast<long long>(n));
            });
    std::fprintf(stderr, "zncip-collector: upgraded %s: %lld hits decoded\n", path,
                 static_cast<long long>(done));
}

// Hits stored with their facts but before the uid beside a cid was recorded: those that carry both are
// linked to the uid's client. Only the bodies that may name a uid are decoded.
void linkStoredUids(const Connection& db)
{
    RollupWriter writer(db);
    Statement link(db, sqlFile("set_uid_client.sql"));
    Statement select(db, kHitsToLink);
    HitRecord hit;
    eachRow(select, "reading hits",
            [&](const Statement& s)
            {
                hit.receivedUs = s.integer(1);
                hit.body = s.text(2);
                if (const int64_t uid = writer.decode(hit).uidClient)
                    link.bind(1, uid).bind(2, s.integer(0)).run("linking a hit to its uid");
            });
}

} // namespace

void configureForWriting(const Connection& db, const StoreOptions& options)
{
    // SQLite quietly falls back to read-only for a file it may not write.
    if (sqlite3_db_readonly(db.get(), "main") == 1)
        throw StoreError("cannot open database " + db.path() + " for writing: permission denied");
    // Checked, not assumed: some file systems cannot hold a write-ahead log.
    if (db.queryText("PRAGMA journal_mode=WAL") != "wal")
        throw StoreError("cannot switch database " + db.path() + " to write-ahead logging");
    db.exec(options.syncFull ? "PRAGMA synchronous=FULL" : "PRAGMA synchronous=NORMAL");
    if (options.maxBytes > 0)
    {
        const int64_t pageSize = std::stoll(db.queryText("PRAGMA page_size"));
        const std::string pages = std::to_string(std::max<int64_t>(1, options.maxBytes / pageSize));
        db.exec(("PRAGMA max_page_count=" + pages).c_str());
    }
}

void migrate(const Connection& db)
{
    db.exec("BEGIN IMMEDIATE");
    try
    {
        db.exec(kCreateVersions);
        const int version = currentVersion(db);
        refuseNewer(db, version);
        for (int v = version; v < sqliteSchemaVersion(); ++v)
        {
            db.exec(sqlFile(kMigrations[v]).data());
            Statement record(db, kRecordVersion);
            record.bind(1, v + 1).run("recording the schema version");
        }
        // Once the schema is current, which the writer's statements need.
        if (version > 0 && version < kRollupsVersion)
            decodeStoredHits(db);
        else if (version > 0 && version < kTextIdsVersion)
            linkStoredUids(db);
        db.exec("COMMIT");
    }
    catch (...)
    {
        db.rollback();
        throw;
    }
}

int readableVersion(const Connection& db)
{
    const int version = currentVersion(db);
    if (version == 0)
        throw StoreError(db.path() + " holds no collected hits");
    refuseNewer(db, version);
    return version;
}

} // namespace sqlite

int sqliteSchemaVersion()
{
    return static_cast<int>(std::size(sqlite::kMigrations));
}

} // namespace zncip::collector
