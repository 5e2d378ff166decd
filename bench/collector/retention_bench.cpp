// Retention of one day of raw hits on PostgreSQL, the two ways: the rows deleted as schema 2 pruned them
// (and the vacuum their dead rows then cost), against the day's partition dropped as schema 3 does. On a
// throw-away server (tools/pg_cluster.sh), one day filled through the store's own API; prints the time
// and the write-ahead log (pg_current_wal_lsn before and after) of each, side by side.
//
// usage: zncip-collector-retention-bench [--hits N]   (default 1,000,000)

#include "child_collector.h"
#include "store/hit_store.h"
#include "text/days.h"

#include <libpq-fe.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace
{

using zncip::bench::lastLine;

using namespace zncip::collector;

const std::string kPgBin = "/usr/lib/postgresql/15/bin";
constexpr int kBatch = 5000;
constexpr int kClients = 1000;
// Schema 2's prune statement, run until it removes nothing, each run its own transaction.
constexpr const char* kOldPrune = "DELETE FROM hits_unpartitioned WHERE id IN (SELECT id FROM "
                                  "hits_unpartitioned WHERE day < $1 LIMIT 10000)";

// A connection of the benchmark's own, beside the store's, to measure and to run the old statements.
class Session
{
public:
    explicit Session(const std::string& uri) : conn_(PQconnectdb(uri.c_str()))
    {
        if (PQstatus(conn_) != CONNECTION_OK)
            throw std::runtime_error(PQerrorMessage(conn_));
    }
    ~Session() { PQfinish(conn_); }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // The first column of the first row, or the rows changed; throws on failure.
    std::string run(const std::string& sql, const std::vector<std::string>& params = {})
    {
        std::vector<const char*> values;
        for (const std::string& p : params)
            values.push_back(p.c_str());
        PGresult* r = PQexecParams(conn_, sql.c_str(), static_cast<int>(values.size()), nullptr,
                                   values.data(), nullptr, nullptr, 0);
        const ExecStatusType status = PQresultStatus(r);
        std::string value;
        if (status == PGRES_TUPLES_OK && PQntuples(r) > 0)
            value = PQgetvalue(r, 0, 0);
        else if (status == PGRES_COMMAND_OK)
            value = PQcmdTuples(r);
        PQclear(r);
        if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK)
            throw std::runtime_error(sql + ": " + PQerrorMessage(conn_));
        return value;
    }

private:
    PGconn* conn_;
};

struct Cost
{
    double seconds = 0;
    double walMiB = 0;
    std::string note;
};

// The time and the log that work takes, from a checkpoint on: every page it touches first since then
// costs a whole image in the log, as on a server that checkpoints while days pass.
Cost measure(Session& s, const std::function<std::string()>& work)
{
    s.run("CHECKPOINT");
    const std::string before = s.run("SELECT pg_current_wal_lsn()::text");
    const auto start = std::chrono::steady_clock::now();
    Cost c;
    c.note = work();
    c.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    c.walMiB =
        std::atof(s.run("SELECT pg_wal_lsn_diff(pg_current_wal_lsn(), $1::pg_lsn)", {before}).c_str()) /
        (1024.0 * 1024.0);
    return c;
}

// n hits of the day, through the store as a collector stores them: kClients clients, each body its own.
void fill(HitStore& store, int32_t day, int64_t n)
{
    std::vector<HitRecord> batch;
    for (int64_t i = 0; i < n; ++i)
    {
        HitRecord h;
        h.receivedUs = (int64_t{day} * 86400 + 3600) * 1000000 + i * 1000 % (20LL * 3600 * 1000000);
        h.path = "/collect";
        h.body = "v=1&tid=UA-582047-16&cid=retention-client-" + std::to_string(i % kClients) +
                 "&t=event&ul=en-us&qt=1&an=App%20SP2%20x64&av=1.0&ec=Commands&ea=Execute&el=LINE%20(GROUP" +
                 std::to_string(i % 97) + ")&ev=" + std::to_string(i);
        h.accepted = true;
        h.userAgent = "App SP2 x64/1.0 (WIN; en_US) Ostrevan/1.0 (Qt/5.12.3)";
        batch.push_back(std::move(h));
        if (batch.size() == kBatch || i + 1 == n)
        {
            store.append(batch);
            batch.clear();
        }
    }
}

void printRow(const char* what, const Cost& c)
{
    std::printf("  %-44s %9.3f s %11.2f MiB   %s\n", what, c.seconds, c.walMiB, c.note.c_str());
}

} // namespace

int main(int argc, char** argv)
{
    int64_t hits = 1'000'000;
    for (int i = 1; i + 1 < argc; i += 2)
        if (std::string(argv[i]) == "--hits")
            hits = std::max<int64_t>(1, std::atoll(argv[i + 1]));
    if (!std::filesystem::exists(kPgBin + "/pg_ctl"))
    {
        std::printf("retention on PostgreSQL: skipped, no PostgreSQL server installed\n");
        return 0;
    }
    const std::string script = std::string(ZNCIP_SOURCE_DIR) + "/tools/pg_cluster.sh";
    char folder[] = "/tmp/zncip-retention-bench-XXXXXX";
    const std::string dir = mkdtemp(folder);
    std::filesystem::permissions(dir, std::filesystem::perms(0755));
    int status = 1;
    try
    {
        const std::string db = lastLine(script + " start " + dir + "/pg");
        const auto store = openPostgresStore(db,
                                             []
                                             {
                                                 StoreOptions unsynced;
                                                 unsynced.syncFull = false;
                                                 return unsynced;
                                             }());
        const int32_t day = dayOf(std::chrono::duration_cast<std::chrono::microseconds>(
                                      std::chrono::system_clock::now().time_since_epoch())
                                      .count()) -
                            30;
        store->prepareDays(day, day);
        const auto filling = std::chrono::steady_clock::now();
        fill(*store, day, hits);
        Session s(db);
        // The same rows in a table of schema 2's shape, unpartitioned, for the old way.
        s.run("CREATE TABLE hits_unpartitioned (LIKE hits INCLUDING ALL) WITH (autovacuum_enabled = off)");
        s.run("INSERT INTO hits_unpartitioned SELECT * FROM hits");
        s.run("VACUUM ANALYZE hits_unpartitioned");
        std::printf(
            "retention on PostgreSQL: one day (%s) of %lld hits, filled through the store in %.1f s; "
            "its partition %s, the unpartitioned copy %s\n",
            formatDay(day).c_str(), static_cast<long long>(hits),
            std::chrono::duration<double>(std::chrono::steady_clock::now() - filling).count(),
            s.run("SELECT pg_size_pretty(pg_total_relation_size(tableoid)) FROM hits LIMIT 1").c_str(),
            s.run("SELECT pg_size_pretty(pg_total_relation_size('hits_unpartitioned'))").c_str());

        const std::string before = std::to_string(day + 1);
        const Cost deleted = measure(s,
                                     [&]
                                     {
                                         int64_t removed = 0;
                                         for (int64_t n = 1; n > 0; removed += n)
                                             n = std::atoll(s.run(kOldPrune, {before}).c_str());
                                         return std::to_string(removed) + " rows deleted";
                                     });
        const Cost vacuumed = measure(s,
                                      [&]
                                      {
                                          s.run("VACUUM hits_unpartitioned");
                                          return std::string("dead rows vacuumed");
                                      });
        const Cost dropped = measure(
            s, [&]
            { return std::to_string(store->pruneRawBefore(day + 1)) + " hits in the partition dropped"; });
        std::printf("  %-44s %11s %15s\n", "retention of the day", "elapsed", "WAL");
        printRow("DELETE, 10,000 rows a statement (schema 2)", deleted);
        printRow("  then VACUUM of its dead rows", vacuumed);
        printRow("partition dropped (schema 3)", dropped);
        const bool allGone = s.run("SELECT count(*) FROM hits") == "0" &&
                             s.run("SELECT count(*) FROM hits_unpartitioned") == "0";
        if (!allGone)
            std::printf("  MISMATCH: rows of the day are left\n");
        status = allGone ? 0 : 1;
    }
    catch (const std::exception& e)
    {
        std::printf("retention on PostgreSQL: %s\n", e.what());
    }
    lastLine(script + " stop " + dir + "/pg >/dev/null; echo");
    std::filesystem::remove_all(dir);
    return status;
}
