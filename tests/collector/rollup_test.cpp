// The rollups against counts made the slow way, from the list of hits itself: for every period of a
// few days, with and without a version, after hits arrived out of order, after a client was forgotten
// and after raw hits were pruned; and the upgrade of a database kept before there were rollups.

#include "collector_fixture.h"

#include <sqlite3.h>

#include <gtest/gtest.h>

namespace zncip::collector::test
{
namespace
{

TEST(Rollups, CountWhatTheHitsSayOverAnyPeriod)
{
    TempDir dir;
    expectRollupsThroughTheirLife([&] { return openSqliteStore(dir.file("hits.db")); }, true);
}

// A database as the collector kept it before hits were decoded at ingest: raw hits only.
TEST(Rollups, AnOlderDatabaseIsUpgradedAtStartWithItsHitsCounted)
{
    TempDir dir;
    const std::string db = dir.file("old.db");
    const std::vector<SentHit> hits = someHits();
    {
        sqlite3* h = nullptr;
        ASSERT_EQ(sqlite3_open(db.c_str(), &h), SQLITE_OK);
        ASSERT_EQ(
            sqlite3_exec(
                h,
                "PRAGMA journal_mode=WAL;"
                "CREATE TABLE schema_version (version INTEGER NOT NULL, applied_us INTEGER NOT NULL);"
                "INSERT INTO schema_version VALUES (1, 0), (2, 0);"
                "CREATE TABLE hits (id INTEGER PRIMARY KEY, received_us INTEGER NOT NULL, path TEXT NOT "
                "NULL, body BLOB NOT NULL, accepted INTEGER NOT NULL, reason TEXT NOT NULL, "
                "user_agent TEXT NOT NULL);"
                "CREATE INDEX hits_by_verdict ON hits (accepted, received_us);",
                nullptr, nullptr, nullptr),
            SQLITE_OK);
        sqlite3_stmt* insert = nullptr;
        sqlite3_prepare_v2(h,
                           "INSERT INTO hits (received_us, path, body, accepted, reason, user_agent) "
                           "VALUES (?, '/collect', ?, ?, ?, 'UA')",
                           -1, &insert, nullptr);
        for (const SentHit& s : hits)
        {
            const HitRecord r = s.record();
            sqlite3_bind_int64(insert, 1, r.receivedUs);
            sqlite3_bind_blob(insert, 2, r.body.data(), static_cast<int>(r.body.size()), SQLITE_TRANSIENT);
            sqlite3_bind_int(insert, 3, r.accepted);
            sqlite3_bind_text(insert, 4, r.reason.c_str(), -1, SQLITE_TRANSIENT);
            ASSERT_EQ(sqlite3_step(insert), SQLITE_DONE);
            sqlite3_reset(insert);
        }
        sqlite3_finalize(insert);
        sqlite3_close(h);
    }
    StoreOptions readOnly;
    readOnly.readOnly = true;
    EXPECT_THROW(openSqliteStore(db, readOnly)->rollups({}), StoreError) << "report before the upgrade";
    EXPECT_EQ(openSqliteStore(db, readOnly)->storedHits(), static_cast<int64_t>(hits.size()))
        << "export still reads";

    const std::unique_ptr<HitStore> store = openSqliteStore(db);
    EXPECT_EQ(store->storedHits(), static_cast<int64_t>(hits.size()));
    expectRollupsMatch(*store, hits, "upgraded");
}

} // namespace
} // namespace zncip::collector::test
