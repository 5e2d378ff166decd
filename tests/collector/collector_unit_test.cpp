// Decoding, validation and the database.

#include "collector_fixture.h"
#include "ingest/validation.h"
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

// Each row: a body and what it decodes to, [name|value] per field, then the flags it raises.
TEST(FormDecoding, Table)
{
    // clang-format off
    const char* const rows[] = {
        "b=2&&a=1&b=3&flag&=orphan&c=", "[b|2][a|1][b|3][flag|][|orphan][c|]",    "", "",
        "el=LINE%20(%C3%84)&x=a%26b%3dc", "[el|LINE (Ä)][x|a&b=c]",
        // The module leaves '+' unencoded, so a literal plus reads as a blank; an encoded one is a plus.
        "el=C++%20(TOOLS)&ea=a+b", "[el|C   (TOOLS)][ea|a b]",                    "el=C%2B%2B", "[el|C++]",
        // A body is passed without its terminator: a '%' at the end is the last byte the decoder may read.
        "el=100%", "[el|100%] bad%",        "el=%4", "[el|%4] bad%",              "el=%zz%41", "[el|%zzA] bad%",
        "e%l=1", "[e%l|1] bad%",            "el=%F0%9F%98%80", "[el|\xF0\x9F\x98\x80]",
        "el=%FF", "[el|\xFF] bad UTF-8",    "el=%C3", "[el|\xC3] bad UTF-8",      "%FE=1", "[\xFE|1] bad UTF-8",
        "el=%C0%AF", "[el|\xC0\xAF] bad UTF-8",                                   "el=%ED%A0%80", "[el|\xED\xA0\x80] bad UTF-8",
        "el=%F4%90%80%80", "[el|\xF4\x90\x80\x80] bad UTF-8"};
    // clang-format on
    for (size_t i = 0; i < std::size(rows); i += 2)
    {
        const DecodedForm form = decodeForm(rows[i]);
        std::string fields;
        for (const FormField& f : form.fields)
            fields += "[" + f.name + "|" + f.value + "]";
        EXPECT_EQ(fields + (form.badPercent ? " bad%" : "") + (form.badUtf8 ? " bad UTF-8" : ""), rows[i + 1])
            << rows[i];
    }
}

std::string problemParameters(const std::string& body)
{
    std::string names;
    for (const Problem& p : validateHit(body).problems)
        names += "[" + p.parameter + "]";
    return names.empty() ? "ok" : names;
}

const std::string kHit = "v=1&tid=UA-1-1&cid=x&t=";

// Each row: the parameters the problems name ("ok": none), then the hit ("..." stands for kHit).
TEST(Validation, VerdictsNameTheParameter)
{
    const std::string module = "v=1&tid=UA-582047-16&cid=35009a79-1a05-49d7-b876-2b884d0f825b&ul=en-us&qt=1"
                               "&an=App%20SP2%20x64&av=1.0&t=";
    const auto x = [](size_t n) { return std::string(n, 'x'); };
    std::string letters; // 75 two-byte letters fill ec exactly
    for (int i = 0; i < 75; ++i)
        letters += "%C3%A4";
    // A body exactly at the limit has only el too long; one byte more is a problem of its own ("").
    const std::string limit = "...event&ec=a&ea=b&el=" + x(kMaxHitBytes - kHit.size() - 19);
    // clang-format off
    const std::string rows[] = {
        "ok " + module + "event&ec=Commands&ea=Execute&el=LINE%20(GROUPA)&ev=1",
        "ok " + module + "event&ec=Session&ea=Start&sc=start",
        "ok " + module + "event&ec=System&ea=Memory&el=16384&ev=0&ni=1",
        // Out-of-range screen indexes give an empty parameter name, which is ignored.
        "ok " + module + "screenview&cd=Drawing&cd1=dwg&cd200=x&cd201=x&cm1=3&cm2=-2.5&=x&=y",
        "ok v=1&tid=UA-1-1&uid=user&t=event&ec=a&ea=b&sc=end", "ok ...pageview", "ok ...exception",
        "ok ...transaction&ti=1", "ok ...timing&utc=a&utv=b&utt=5",
        "[v] tid=UA-1-1&cid=x&t=pageview",     "[v] v=2&tid=UA-1-1&cid=x&t=pageview",   "[tid] v=1&cid=x&t=pageview",
        "[tid] v=1&tid=UA-1&cid=x&t=pageview", "[tid] v=1&tid=UA-12a-1&cid=x&t=pageview",
        "[tid] v=1&tid=G-ABC123&cid=x&t=pageview", "[tid] v=1&tid=ua-1-1&cid=x&t=pageview",
        "[cid] v=1&tid=UA-1-1&t=pageview",     "[cid] v=1&tid=UA-1-1&cid=&t=pageview",  "[t] v=1&tid=UA-1-1&cid=x",
        "[t] ...click",          "[ec][ea] ...event",     "[ea] ...event&ec=a&ea=",   "[cd] ...screenview",
        "[in] ...item&ti=1",     "[st] ...social&sn=a&sa=b", "[utt] ...timing&utc=a&utv=b", "[ti] ...transaction",
        "[ev] ...pageview&ev=-1",   "[ev] ...pageview&ev=1.5",   "[qt] ...pageview&qt=one", "[ni] ...pageview&ni=2",
        "[cm3] ...pageview&cm3=abc", "[cm3] ...pageview&cm3=1e5", "[sc] ...pageview&sc=restart",
        "[cid] ...pageview&cid=y",
        // Integers stay within 32 bits, so that no sum of them can overflow.
        "ok ...pageview&ev=2147483647&qt=002147483647", "[ev] ...pageview&ev=2147483648",
        "[ev] ...pageview&ev=999999999999999999", "[utt] ...timing&utc=a&utv=b&utt=10000000000",
        // Lengths are limited in bytes after decoding.
        "ok ...pageview&ec=" + x(150), "[ec] ...pageview&ec=" + x(151), "ok ...pageview&el=" + x(500),
        "[el] ...pageview&el=" + x(501), "ok ...pageview&cd=" + x(2048), "[cd] ...pageview&cd=" + x(2049),
        "ok ...pageview&ec=" + letters, "[ec] ...pageview&ec=" + letters + "%C3%A4",
        "[el] " + limit, "[][el] " + limit + "x", "[] ...event&ec=a&ea=b&el=%FF"};
    // clang-format on
    for (const std::string& row : rows)
    {
        std::string body = row.substr(row.find(' ') + 1);
        if (body.rfind("...", 0) == 0)
            body.replace(0, 3, kHit);
        EXPECT_EQ(problemParameters(body), row.substr(0, row.find(' '))) << body;
    }
    EXPECT_EQ(
        validateHit(kHit + "event&ec=a&ea=b&ev=x&el=100%").reason(),
        "a '%' is not followed by two hexadecimal digits; ev: the value must be a non-negative integer");
}

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
TEST(SqliteStore, AFreshDatabaseHasTheCheckedInSchema)
{
    TempDir dir;
    const std::string db = dir.file("hits.db");
    openSqliteStore(db);
    std::ifstream golden(ZNCIP_SOURCE_DIR "/tests/collector/golden/sqlite_schema.sql");
    ASSERT_TRUE(golden.good());
    std::ostringstream expected;
    expected << golden.rdbuf();
    EXPECT_EQ(schemaOf(db), expected.str());
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

} // namespace
} // namespace zncip::collector::test
