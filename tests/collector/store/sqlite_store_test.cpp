// The SQLite store: its schema as old and new builds share it, its migrations, the SQL it carries, its
// caches, and its rollups against counts made the slow way from the hits themselves (for every period of
// a few days, with and without a version, after late hits, a forgotten client and pruning).

#include "collector_fixture.h"
#include "report/report.h"
#include "store/sqlite/id_cache.h"
#include "store/sqlite/sql_files.h"

#include <sqlite3.h>

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>

namespace zncip::collector::test
{
namespace
{

int sql(const std::string& db, const char* statement)
{
    sqlite3* h = nullptr;
    sqlite3_stmt* s = nullptr;
    sqlite3_open(db.c_str(), &h);
    sqlite3_prepare_v2(h, statement, -1, &s, nullptr);
    const int value = sqlite3_step(s) == SQLITE_ROW ? sqlite3_column_int(s, 0) : -1;
    sqlite3_finalize(s);
    sqlite3_close(h);
    return value;
}

TEST(SqliteStore, MigratesOnceKeepsHitsAndRefusesWhatItCannotUse)
{
    TempDir dir;
    const std::string db = dir.file("hits.db");
    HitRecord hit;
    hit.body = "a=1";
    openSqliteStore(db)->append({hit, hit});
    hit.body = "c=3";
    openSqliteStore(db)->append({hit});
    EXPECT_EQ(sql(db, "SELECT count(*) * 100 + max(version) FROM schema_version"),
              sqliteSchemaVersion() * 101);
    ASSERT_EQ(readHits(db).size(), 3u);
    EXPECT_EQ(readHits(db)[2].body, "c=3");

    // A file deleted under the store takes every hit after it with it: no smaller transaction could help.
    const std::unique_ptr<HitStore> open = openSqliteStore(db);
    std::filesystem::rename(db, dir.file("moved.db"));
    try
    {
        open->append({hit});
        ADD_FAILURE() << "stored in a deleted file";
    }
    catch (const StoreError& e)
    {
        EXPECT_TRUE(e.unavailable()) << e.what();
    }
    std::filesystem::rename(dir.file("moved.db"), db);

    sql(db, "INSERT INTO schema_version VALUES (99, 0)");
    EXPECT_THROW(openSqliteStore(db), StoreError) << "written by a newer collector";
    std::ofstream(dir.file("text.db")) << "this is not a database, just some text long enough to be read";
    EXPECT_THROW(openSqliteStore(dir.file("text.db")), StoreError);
    EXPECT_THROW(openSqliteStore(dir.path()), StoreError);
    StoreOptions readOnly;
    readOnly.readOnly = true;
    EXPECT_THROW(openSqliteStore(dir.file("absent.db"), readOnly), StoreError);
    EXPECT_FALSE(std::ifstream(dir.file("absent.db")).good()) << "a report must not create a database";
}

// The schema as SQLite keeps it, with the pragmas and migrations that go with it, as SQL a person can read.
std::string schemaOf(const std::string& db)
{
    sqlite3* h = nullptr;
    sqlite3_open(db.c_str(), &h);
    std::string text;
    auto each = [&](const char* statement, const std::function<void(sqlite3_stmt*)>& row)
    {
        sqlite3_stmt* s = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(h, statement, -1, &s, nullptr), SQLITE_OK) << statement;
        while (sqlite3_step(s) == SQLITE_ROW)
            row(s);
        sqlite3_finalize(s);
    };
    auto column = [](sqlite3_stmt* s, int i)
    {
        const auto* t = sqlite3_column_text(s, i);
        return t ? std::string(reinterpret_cast<const char*>(t)) : std::string();
    };
    each("SELECT type, name, tbl_name, sql FROM sqlite_master ORDER BY type, name",
         [&](sqlite3_stmt* s)
         {
             const std::string sql = column(s, 3);
             text += "-- " + column(s, 0) + " " + column(s, 1) + " on " + column(s, 2) +
                     (sql.empty() ? " (automatic)\n\n" : "\n" + sql + ";\n\n");
         });
    for (const char* pragma : {"journal_mode", "user_version"})
        each((std::string("PRAGMA ") + pragma).c_str(), [&](sqlite3_stmt* s)
             { text += std::string("-- PRAGMA ") + pragma + ": " + column(s, 0) + "\n"; });
    // The rows the migrations write.
    for (const auto& [table, column0] :
         {std::pair("schema_version", "version"), std::pair("erasures", "generation")})
    {
        text += std::string("-- ") + table + ":";
        each((std::string("SELECT ") + column0 + " FROM " + table + " ORDER BY 1").c_str(),
             [&](sqlite3_stmt* s) { text += " " + column(s, 0); });
        text += "\n";
    }
    sqlite3_close(h);
    return text;
}

// Old and new builds share databases: whatever the store's code looks like, a fresh database is this one.
// A change on purpose is a new migration; the schema to compare is left beside the test.
TEST(SqliteStore, AFreshDatabaseHasTheCheckedInSchema)
{
    TempDir dir;
    const std::string db = dir.file("hits.db");
    openSqliteStore(db);
    std::ifstream golden(ZNCIP_SOURCE_DIR "/tests/collector/golden/sqlite_schema.sql");
    ASSERT_TRUE(golden.good());
    std::ostringstream expected;
    expected << golden.rdbuf();
    const std::string actual = schemaOf(db);
    std::ofstream(ZNCIP_BIN_DIR "/sqlite_schema.sql") << actual;
    EXPECT_TRUE(actual == expected.str())
        << "the schema differs: diff tests/collector/golden/sqlite_schema.sql "
        << ZNCIP_BIN_DIR "/sqlite_schema.sql";
}

// The SQL under store/sqlite/sql is what the program carries (no file left out of the build's list, no
// stale copy), its migrations are the schema versions, and the scope numbers it spells are RollupKey's.
TEST(SqliteStore, TheEmbeddedSqlIsTheFilesAndSpellsTheScopesOfTheCode)
{
    namespace fs = std::filesystem;
    std::string all; // every file, without comments
    int migrations = 0;
    for (const auto& entry : fs::directory_iterator(ZNCIP_SOURCE_DIR "/apps/collector/src/store/sqlite/sql"))
    {
        const std::string name = entry.path().filename().string();
        std::ostringstream file;
        file << std::ifstream(entry.path()).rdbuf();
        EXPECT_EQ(sqlite::sql::embeddedFile(name), file.str()) << name;
        migrations += std::regex_search(name, std::regex("^[0-9]{3}_.*\\.sql$"));
        all += std::regex_replace(file.str(), std::regex("--[^\n]*"), "");
    }
    EXPECT_EQ(migrations, sqliteSchemaVersion());

    using S = RollupKey::Scope;
    auto in = [](std::initializer_list<S> scopes)
    {
        std::string list;
        for (const S s : scopes)
            list += (list.empty() ? "" : ", ") + std::to_string(static_cast<int>(s));
        return "scope IN (" + list + ")";
    };
    auto is = [](S s) { return "scope = " + std::to_string(static_cast<int>(s)) + " "; };
    const std::pair<const char*, std::string> spelled[] = {
        {"rollup_clients.sql", "THEN k." + in({S::EventAnyVersion, S::Application, S::All}) + " ELSE k." +
                                   in({S::Event, S::Application}) + " AND"},
        {"rollup_daily_clients.sql", "WHERE k." + in({S::Application, S::All}) + " AND"},
        {"rollup_daily_clients.sql", "OR k." + is(S::Application) + "AND"},
        {"versions.sql", "WHERE " + is(S::Application) + "ORDER"},
    };
    const std::regex number("scope\\s*(=|IN)\\s*\\(?\\s*[0-9]", std::regex::icase);
    auto count = [&](const std::string& text)
    { return std::distance(std::sregex_iterator(text.begin(), text.end(), number), std::sregex_iterator()); };
    long expected = 0;
    for (const auto& [name, fragment] : spelled)
    {
        EXPECT_NE(sqlite::sql::embeddedFile(name).find(fragment), std::string_view::npos)
            << name << ": " << fragment;
        expected += count(fragment);
    }
    EXPECT_EQ(count(all), expected) << "a scope number spelled in SQL that this test does not check";
}

// Client ids and rollup keys are remembered within a budget of bytes, whatever their length.
TEST(SqliteStore, IdCacheHoldsNoMoreBytesThanItsBudget)
{
    constexpr size_t kFit = 10, kText = 100, kBudget = kFit * (kText + sqlite::IdCache::kEntryOverhead) + 50;
    sqlite::IdCache cache(kBudget);
    cache.add(std::string(kBudget, 'x'), 1);
    EXPECT_EQ(cache.size(), 0u) << "an entry bigger than the budget";
    size_t most = 0;
    for (int i = 0; i < 25; ++i)
    {
        const std::string text = std::to_string(i) + std::string(kText - std::to_string(i).size(), 'x');
        cache.add(text, i);
        EXPECT_EQ(cache.find(text), std::optional<int64_t>(i));
        EXPECT_EQ(cache.find(std::string(kText, 'y')), std::nullopt);
        most = std::max(most, cache.size());
    }
    EXPECT_EQ(most, kFit);
    EXPECT_EQ(cache.size(), 25 % kFit);
}

TEST(Rollups, CountWhatTheHitsSayOverAnyPeriod)
{
    TempDir dir;
    expectRollupsThroughTheirLife([&] { return openSqliteStore(dir.file("hits.db")); }, true);
}

// Every text and blob value of every table, as SQLite holds it.
std::string textsOf(const std::string& db)
{
    sqlite3* h = nullptr;
    sqlite3_open(db.c_str(), &h);
    std::vector<std::string> tables;
    std::string texts;
    auto each = [&](const std::string& statement, const std::function<void(sqlite3_stmt*)>& row)
    {
        sqlite3_stmt* s = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(h, statement.c_str(), -1, &s, nullptr), SQLITE_OK) << statement;
        while (sqlite3_step(s) == SQLITE_ROW)
            row(s);
        sqlite3_finalize(s);
    };
    each("SELECT name FROM sqlite_master WHERE type = 'table'", [&](sqlite3_stmt* s)
         { tables.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(s, 0))); });
    for (const std::string& table : tables)
        each("SELECT * FROM " + table,
             [&](sqlite3_stmt* s)
             {
                 for (int i = 0; i < sqlite3_column_count(s); ++i)
                     if (const int type = sqlite3_column_type(s, i);
                         type == SQLITE_TEXT || type == SQLITE_BLOB)
                         texts.append(static_cast<const char*>(sqlite3_column_blob(s, i)),
                                      static_cast<size_t>(sqlite3_column_bytes(s, i))) += '\n';
             });
    sqlite3_close(h);
    return texts;
}

TEST(Rollups, ForgettingLeavesNothingOfTheClient)
{
    std::vector<std::unique_ptr<TempDir>> dirs;
    expectForgettingLeavesNothing(
        [&]
        {
            dirs.push_back(std::make_unique<TempDir>());
            const std::string db = dirs.back()->file("hits.db");
            return FreshStore{[db] { return openSqliteStore(db); }, [db] { return textsOf(db); }};
        });
}

// A database as the build before schema 4 wrote it: the texts of each hit in its own columns. Made by
// taking schema 4 back out of one this build wrote.
TEST(Rollups, ADatabaseOfSchema3IsUpgradedWithEveryHitKept)
{
    TempDir dir;
    const std::string db = dir.file("hits.db");
    std::vector<HitRecord> hits;
    for (const SentHit& s : someHits())
        hits.push_back(s.record());
    for (const HitRecord& h : victimHits())
        hits.push_back(h);
    for (size_t i = 0; i < hits.size(); ++i)
        hits[i].userAgent = "agent " + std::to_string(i % 3);
    std::vector<std::string> lines;
    std::string report;
    {
        const std::unique_ptr<HitStore> store = openSqliteStore(db);
        store->append(hits);
        lines = storedLines(*store);
        report = reportJson(buildReport(store->rollups({}), {}));
    }
    sqlite3* h = nullptr;
    ASSERT_EQ(sqlite3_open(db.c_str(), &h), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(
                  h,
                  "UPDATE hits SET reason = coalesce((SELECT reason FROM reasons WHERE id = reason_id), "
                  "reason), user_agent = coalesce((SELECT agent FROM user_agents WHERE id = agent_id), "
                  "user_agent);"
                  "DROP INDEX daily_counts_by_key; ALTER TABLE hits DROP COLUMN agent_id;"
                  "ALTER TABLE hits DROP COLUMN reason_id; ALTER TABLE hits DROP COLUMN uid_client;"
                  "DROP TABLE user_agents; DROP TABLE reasons; DELETE FROM schema_version WHERE version = 4;",
                  nullptr, nullptr, nullptr),
              SQLITE_OK)
        << sqlite3_errmsg(h);
    sqlite3_close(h);

    StoreOptions readOnly;
    readOnly.readOnly = true;
    EXPECT_EQ(storedLines(*openSqliteStore(db, readOnly)), lines) << "export before the upgrade";
    EXPECT_EQ(reportJson(buildReport(openSqliteStore(db, readOnly)->rollups({}), {})), report);
    const std::unique_ptr<HitStore> store = openSqliteStore(db);
    EXPECT_EQ(sql(db, "SELECT max(version) FROM schema_version"), 4);
    EXPECT_EQ(storedLines(*store), lines) << "upgraded";
    EXPECT_EQ(reportJson(buildReport(store->rollups({}), {})), report);
    EXPECT_EQ(store->forget("victim-uid").hits, 4) << "a hit stored before knows its uid";
    EXPECT_EQ(sql(db, "SELECT count(*) FROM hits WHERE instr(body, 'victim') OR instr(reason, 'victim')"), 0);
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
