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

// Runs one statement on the database in a connection of its own, calling row for each row it returns.
void each(const std::string& db, const std::string& statement, const std::function<void(sqlite3_stmt*)>& row)
{
    sqlite3* h = nullptr;
    sqlite3_stmt* s = nullptr;
    sqlite3_open(db.c_str(), &h);
    EXPECT_EQ(sqlite3_prepare_v2(h, statement.c_str(), -1, &s, nullptr), SQLITE_OK) << statement;
    while (sqlite3_step(s) == SQLITE_ROW)
        row(s);
    sqlite3_finalize(s);
    sqlite3_close(h);
}

int sql(const std::string& db, const std::string& statement)
{
    int value = -1;
    each(db, statement, [&](sqlite3_stmt* s) { value = sqlite3_column_int(s, 0); });
    return value;
}

std::string column(sqlite3_stmt* s, int i)
{
    const auto* t = sqlite3_column_text(s, i);
    return t ? std::string(reinterpret_cast<const char*>(t)) : std::string();
}

TEST(SqliteStore, RefusesWhatItCannotUse)
{
    TempDir dir;
    const std::string db = dir.file("hits.db");
    // A file deleted under the store takes every hit after it with it: no smaller transaction could help.
    const std::unique_ptr<HitStore> open = openSqliteStore(db);
    std::filesystem::rename(db, dir.file("moved.db"));
    try
    {
        open->append({HitRecord()});
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
    std::string text;
    each(db, "SELECT type, name, tbl_name, sql FROM sqlite_master ORDER BY type, name",
         [&](sqlite3_stmt* s)
         {
             const std::string sql = column(s, 3);
             text += "-- " + column(s, 0) + " " + column(s, 1) + " on " + column(s, 2) +
                     (sql.empty() ? " (automatic)\n\n" : "\n" + sql + ";\n\n");
         });
    for (const char* pragma : {"journal_mode", "user_version"})
        each(db, std::string("PRAGMA ") + pragma,
             [&](sqlite3_stmt* s)
             { text += std::string("-- PRAGMA ") + pragma + ": " + column(s, 0) + "\n"; });
    // The rows the migrations write.
    for (const auto& [table, column0] :
         {std::pair("schema_version", "version"), std::pair("erasures", "generation")})
    {
        text += std::string("-- ") + table + ":";
        each(db, std::string("SELECT ") + column0 + " FROM " + table + " ORDER BY 1",
             [&](sqlite3_stmt* s) { text += " " + column(s, 0); });
        text += "\n";
    }
    return text;
}

// Old and new builds share databases: whatever the store's code looks like, a fresh database is this one.
// A change on purpose is a new migration; the schema to compare is left beside the test. Opened twice,
// as each start opens it: the migrations run once.
TEST(SqliteStore, AFreshDatabaseHasTheCheckedInSchema)
{
    TempDir dir;
    const std::string db = dir.file("hits.db");
    openSqliteStore(db)->append({HitRecord()});
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
        {"rollup_clients.sql", "THEN k." + in({S::EventAnyVersion, S::Application, S::All}) + " OR k." +
                                   is(S::Event) + "AND k.category"},
        {"rollup_clients.sql", "ELSE k." + in({S::Event, S::Application}) + " AND"},
        {"rollup_active_clients.sql", "THEN k." + is(S::All) + "ELSE k." + is(S::Application) + "AND"},
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
    std::string texts;
    each(db, "SELECT name FROM sqlite_master WHERE type = 'table'",
         [&](sqlite3_stmt* table)
         {
             each(db, "SELECT * FROM " + column(table, 0),
                  [&](sqlite3_stmt* s)
                  {
                      for (int i = 0; i < sqlite3_column_count(s); ++i)
                          if (const int type = sqlite3_column_type(s, i);
                              type == SQLITE_TEXT || type == SQLITE_BLOB)
                              texts.append(static_cast<const char*>(sqlite3_column_blob(s, i)),
                                           static_cast<size_t>(sqlite3_column_bytes(s, i))) += '\n';
                  });
         });
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
    std::vector<std::string> lines;
    std::string report;
    {
        const std::unique_ptr<HitStore> store = openSqliteStore(db);
        store->append(everyKindOfHit());
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

// A database as the collector kept it before hits were decoded at ingest (schema 2): raw hits only.
TEST(Rollups, AnOlderDatabaseIsUpgradedAtStartWithItsHitsCounted)
{
    TempDir dir;
    const std::string db = dir.file("old.db");
    std::vector<std::string> lines;
    {
        sqlite3* h = nullptr;
        ASSERT_EQ(sqlite3_open(db.c_str(), &h), SQLITE_OK);
        const std::string schema2 =
            "PRAGMA journal_mode=WAL;"
            "CREATE TABLE schema_version (version INTEGER NOT NULL, applied_us INTEGER NOT NULL);"
            "INSERT INTO schema_version VALUES (1, 0), (2, 0);" +
            std::string(sqlite::sql::embeddedFile("001_hits.sql")) +
            std::string(sqlite::sql::embeddedFile("002_hits_by_verdict.sql"));
        ASSERT_EQ(sqlite3_exec(h, schema2.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
            << sqlite3_errmsg(h);
        sqlite3_stmt* insert = nullptr;
        sqlite3_prepare_v2(h,
                           "INSERT INTO hits (received_us, path, body, accepted, reason, user_agent) "
                           "VALUES (?, ?, ?, ?, ?, ?)",
                           -1, &insert, nullptr);
        for (const HitRecord& r : everyKindOfHit())
        {
            sqlite3_bind_int64(insert, 1, r.receivedUs);
            sqlite3_bind_blob(insert, 3, r.body.data(), static_cast<int>(r.body.size()), SQLITE_TRANSIENT);
            sqlite3_bind_int(insert, 4, r.accepted);
            for (const auto& [column, text] : {std::pair<int, const std::string*>(2, &r.path),
                                               std::pair<int, const std::string*>(5, &r.reason),
                                               std::pair<int, const std::string*>(6, &r.userAgent)})
                sqlite3_bind_text(insert, column, text->c_str(), -1, SQLITE_TRANSIENT);
            ASSERT_EQ(sqlite3_step(insert), SQLITE_DONE);
            sqlite3_reset(insert);
            lines.push_back(storedLine(r));
        }
        sqlite3_finalize(insert);
        sqlite3_close(h);
    }
    StoreOptions readOnly;
    readOnly.readOnly = true;
    EXPECT_THROW(openSqliteStore(db, readOnly)->rollups({}), StoreError) << "report before the upgrade";
    EXPECT_EQ(storedLines(*openSqliteStore(db, readOnly)), lines) << "export before the upgrade";

    const std::unique_ptr<HitStore> store = openSqliteStore(db);
    EXPECT_EQ(storedLines(*store), lines) << "upgraded";
    EXPECT_EQ(store->forget("victim-uid").hits, 4) << "a hit stored before knows its uid";
    expectRollupsMatch(*store, someHits(), "upgraded");
}

} // namespace
} // namespace zncip::collector::test
