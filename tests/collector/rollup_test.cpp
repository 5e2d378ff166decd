// The rollups against counts made the slow way, from the list of hits itself: for every period of a
// few days, with and without a version, after hits arrived out of order, after a client was forgotten
// and after raw hits were pruned; and the upgrade of a database kept before there were rollups.

#include "collector_fixture.h"
#include "hit_facts.h"
#include "report.h"

#include <sqlite3.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

namespace zncip::collector::test
{
namespace
{

constexpr int32_t kFirstDay = 20000; // 2024-10-04
constexpr int kDays = 8;
const char* const kVersions[] = {"1.0", "2.0"};

struct Sent
{
    int32_t day;
    std::string client; // empty: a hit whose client was forgotten after its raw body was pruned
    std::string version;
    std::string label;
    bool accepted;

    HitRecord record() const
    {
        HitRecord h;
        h.receivedUs = (int64_t{day} * 86400 + 3600 + static_cast<int>(label.size())) * 1000000;
        h.path = "/collect";
        h.body = "v=1&tid=UA-1-1&cid=" + client + "&t=event&an=App&av=" + version +
                 "&ec=Commands&ea=Execute&el=" + label + "&ev=2";
        h.accepted = accepted;
        h.reason = accepted ? "" : "bad";
        return h;
    }
};

std::vector<Sent> someHits()
{
    std::mt19937 random(7);
    std::vector<Sent> hits;
    for (int i = 0; i < 600; ++i)
    {
        const auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
        const int client = pick(12);
        // Clients move to the later version; a few stay behind.
        const int32_t day = kFirstDay + pick(kDays);
        const char* version = kVersions[client % 3 != 0 && day - kFirstDay > client % kDays ? 1 : 0];
        hits.push_back({day, "c" + std::to_string(client), version, "L" + std::to_string(pick(5)), pick(10) != 0});
    }
    return hits;
}

// What the report over a period must say, counted from the hits one by one.
Report expected(const std::vector<Sent>& hits, const Period& p)
{
    Report r;
    r.version = p.version;
    std::set<std::string> clients;
    std::map<std::string, std::set<std::string>> labelClients;
    std::map<std::pair<std::string, std::string>, std::set<std::string>> versionClients;
    std::map<int32_t, std::set<std::string>> dayClients;
    std::map<std::pair<int32_t, std::string>, std::set<std::string>> dayVersionClients;
    for (const Sent& s : hits)
    {
        if (s.day < p.from || s.day > p.to)
            continue;
        if (!s.accepted)
        {
            ++r.rejected, ++r.rejectionReasons["bad"];
            r.from = std::min(r.from.value_or(s.day), s.day), r.to = std::max(r.to.value_or(s.day), s.day);
            continue;
        }
        if (p.version && s.version != *p.version)
            continue;
        r.from = std::min(r.from.value_or(s.day), s.day), r.to = std::max(r.to.value_or(s.day), s.day);
        ++r.accepted;
        ++r.commands.values[s.label].reports;
        ++r.applications[{"App", s.version}].hits;
        Report::Day& day = r.days[s.day];
        ++day.usage.hits;
        ++day.versions[s.version].usage.hits;
        if (s.client.empty())
            continue;
        clients.insert(s.client);
        labelClients[s.label].insert(s.client);
        versionClients[{"App", s.version}].insert(s.client);
        dayClients[s.day].insert(s.client);
        dayVersionClients[{s.day, s.version}].insert(s.client);
    }
    r.clients = static_cast<int64_t>(clients.size());
    for (const auto& [label, set] : labelClients)
        r.commands.values[label].clients = static_cast<int64_t>(set.size());
    for (const auto& [app, set] : versionClients)
        r.applications[app].clients = static_cast<int64_t>(set.size());
    for (const auto& [day, set] : dayClients)
        r.days[day].usage.clients = static_cast<int64_t>(set.size());
    for (const auto& [key, set] : dayVersionClients)
        r.days[key.first].versions[key.second].usage.clients = static_cast<int64_t>(set.size());
    return r;
}

// Compares every period of the days stored, for all versions and for each one.
void expectRollupsMatch(const HitStore& store, const std::vector<Sent>& hits, const char* when)
{
    std::vector<std::optional<std::string>> versions = {std::nullopt};
    versions.insert(versions.end(), std::begin(kVersions), std::end(kVersions));
    for (int32_t from = kFirstDay; from < kFirstDay + kDays; ++from)
        for (int32_t to = from; to < kFirstDay + kDays; ++to)
            for (const auto& version : versions)
            {
                const Period p{from, to, version};
                ASSERT_EQ(reportJson(buildReport(store.rollups(p), p)), reportJson(expected(hits, p)))
                    << when << ": " << formatDay(from) << " to " << formatDay(to) << " version "
                    << version.value_or("(all)");
            }
}

TEST(Rollups, CountWhatTheHitsSayOverAnyPeriod)
{
    TempDir dir;
    std::unique_ptr<HitStore> store = openSqliteStore(dir.file("hits.db"));
    std::vector<Sent> hits = someHits();
    // Batches in shuffled order: a client's later day often arrives before an earlier one.
    std::vector<Sent> arrival = hits;
    std::shuffle(arrival.begin(), arrival.end(), std::mt19937(11));
    for (size_t i = 0; i < arrival.size(); i += 7)
    {
        std::vector<HitRecord> batch;
        for (size_t j = i; j < std::min(i + 7, arrival.size()); ++j)
            batch.push_back(arrival[j].record());
        store->append(batch);
    }
    expectRollupsMatch(*store, hits, "as received");
    const Period everything;
    EXPECT_EQ(buildReport(store->rollups(everything), everything).clients, 12);

    const auto ofClient = [&](const std::string& c)
    { return std::count_if(hits.begin(), hits.end(), [&](const Sent& s) { return s.client == c; }); };
    const Forgotten gone = store->forget("c3");
    EXPECT_EQ(gone.hits, ofClient("c3"));
    EXPECT_GT(gone.daysPresent, 0);
    hits.erase(std::remove_if(hits.begin(), hits.end(), [](const Sent& s) { return s.client == "c3"; }),
               hits.end());
    expectRollupsMatch(*store, hits, "c3 forgotten");
    EXPECT_EQ(store->forget("c3").hits, 0) << "forgetting twice removes nothing more";

    // Pruned raw hits stay in the counts; a client forgotten afterwards still leaves every client count.
    const int32_t keepFrom = kFirstDay + 4;
    EXPECT_EQ(store->pruneRawBefore(keepFrom),
              std::count_if(hits.begin(), hits.end(), [&](const Sent& s) { return s.day < keepFrom; }));
    EXPECT_EQ(store->count(),
              std::count_if(hits.begin(), hits.end(), [&](const Sent& s) { return s.day >= keepFrom; }));
    expectRollupsMatch(*store, hits, "pruned");
    store->forget("c5");
    for (auto it = hits.begin(); it != hits.end();)
        if (it->client != "c5")
            ++it;
        else if (it->day < keepFrom)
            (it++)->client.clear();
        else
            it = hits.erase(it);
    expectRollupsMatch(*store, hits, "pruned, then c5 forgotten");

    // The rollups persist: a new connection reads the same.
    store.reset();
    expectRollupsMatch(*openSqliteStore(dir.file("hits.db")), hits, "reopened");
}

// A database as the collector kept it before hits were decoded at ingest: raw hits only.
TEST(Rollups, AnOlderDatabaseIsUpgradedAtStartWithItsHitsCounted)
{
    TempDir dir;
    const std::string db = dir.file("old.db");
    const std::vector<Sent> hits = someHits();
    {
        sqlite3* h = nullptr;
        ASSERT_EQ(sqlite3_open(db.c_str(), &h), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(h,
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
        sqlite3_prepare_v2(h, "INSERT INTO hits (received_us, path, body, accepted, reason, user_agent) "
                              "VALUES (?, '/collect', ?, ?, ?, 'UA')", -1, &insert, nullptr);
        for (const Sent& s : hits)
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
    SqliteOptions readOnly;
    readOnly.readOnly = true;
    EXPECT_THROW(openSqliteStore(db, readOnly)->rollups({}), StoreError) << "report before the upgrade";
    EXPECT_EQ(openSqliteStore(db, readOnly)->count(), static_cast<int64_t>(hits.size())) << "export still reads";

    const std::unique_ptr<HitStore> store = openSqliteStore(db);
    EXPECT_EQ(store->count(), static_cast<int64_t>(hits.size()));
    expectRollupsMatch(*store, hits, "upgraded");
}

} // namespace
} // namespace zncip::collector::test
