#include "collector_fixture.h"
#include "export.h"

#include <sqlite3.h>

#include <gtest/gtest.h>

#include <fstream>

namespace zncip::collector::test
{
namespace
{

int queryInt(const std::string& db, const char* sql)
{
    sqlite3* h = nullptr;
    sqlite3_open(db.c_str(), &h);
    sqlite3_stmt* s = nullptr;
    int value = -1;
    if (sqlite3_prepare_v2(h, sql, -1, &s, nullptr) == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW)
        value = sqlite3_column_int(s, 0);
    sqlite3_finalize(s);
    sqlite3_close(h);
    return value;
}

HitRecord record(std::string body, bool accepted = true, std::string reason = "")
{
    HitRecord h;
    h.receivedUs = 1700000000123456;
    h.path = "/collect";
    h.body = std::move(body);
    h.accepted = accepted;
    h.reason = std::move(reason);
    h.userAgent = "agent";
    return h;
}

TEST(SqliteStore, MigratesOnceAndKeepsHitsAcrossReopening)
{
    TempDir dir;
    const std::string db = dir.file("hits.db");
    openSqliteStore(db)->append({record("a=1"), record("b=2", false, "why")});
    openSqliteStore(db)->append({record("c=3")});
    EXPECT_EQ(queryInt(db, "SELECT count(*) FROM schema_version"), sqliteSchemaVersion());
    EXPECT_EQ(queryInt(db, "SELECT max(version) FROM schema_version"), sqliteSchemaVersion());

    const auto hits = readHits(db);
    ASSERT_EQ(hits.size(), 3u);
    EXPECT_EQ(hits[1].body, "b=2");
    EXPECT_FALSE(hits[1].accepted);
    EXPECT_EQ(hits[1].reason, "why");
    EXPECT_EQ(hits[2].body, "c=3");
    EXPECT_LT(hits[0].id, hits[1].id);
}

TEST(SqliteStore, RawBytesSurviveUnchanged)
{
    TempDir dir;
    const std::string body("el=\0\xFF\x80%zz\r\n", 12);
    openSqliteStore(dir.file("hits.db"))->append({record(body)});
    EXPECT_EQ(readHits(dir.file("hits.db")).at(0).body, body);
}

TEST(SqliteStore, RefusesWhatItCannotUse)
{
    TempDir dir;
    const std::string db = dir.file("hits.db");
    openSqliteStore(db);
    sqlite3* h = nullptr;
    sqlite3_open(db.c_str(), &h);
    sqlite3_exec(h, "INSERT INTO schema_version VALUES (99, 0)", nullptr, nullptr, nullptr);
    sqlite3_close(h);
    EXPECT_THROW(openSqliteStore(db), StoreError);

    std::ofstream(dir.file("text.db")) << "this is not a database, just some text long enough to be read";
    EXPECT_THROW(openSqliteStore(dir.file("text.db")), StoreError);
    EXPECT_THROW(openSqliteStore(dir.path()), StoreError);

    SqliteOptions readOnly;
    readOnly.readOnly = true;
    EXPECT_THROW(openSqliteStore(dir.file("absent.db"), readOnly), StoreError);
    EXPECT_FALSE(std::ifstream(dir.file("absent.db")).good()) << "a report must not create a database";
}

TEST(Export, OneJsonObjectPerHit)
{
    StoredHit h;
    h.id = 7;
    h.receivedUs = 1700000000123456;
    h.path = "/collect";
    h.body = "v=1&el=LINE%20(A)&el=%22q%22%0A&ea=C++";
    h.accepted = true;
    h.userAgent = "App/1.0";
    EXPECT_EQ(
        exportLine(h),
        R"j({"id":7,"received":"2023-11-14T22:13:20.123456Z","path":"/collect","accepted":true,"reason":null,)j"
        R"j("params":[["v","1"],["el","LINE (A)"],["el","\"q\"\n"],["ea","C  "]],)j"
        R"j("body":"v=1&el=LINE%20(A)&el=%22q%22%0A&ea=C++","user_agent":"App/1.0"})j");

    h.accepted = false;
    h.reason = "v: the protocol version must be 1";
    h.body = std::string("v=\xFF\x01", 4);
    EXPECT_EQ(
        exportLine(h),
        "{\"id\":7,\"received\":\"2023-11-14T22:13:20.123456Z\",\"path\":\"/collect\",\"accepted\":false,"
        "\"reason\":\"v: the protocol version must be 1\",\"params\":[[\"v\",\"\xEF\xBF\xBD\\u0001\"]],"
        "\"body_base64\":\"dj3/AQ==\",\"user_agent\":\"App/1.0\"}");
}

} // namespace
} // namespace zncip::collector::test
