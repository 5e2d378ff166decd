// What `zncip-collector report` costs on a fleet's month, and what a stored hit costs on disk:
//  1. the report (rollups read and summed) of the whole period, of one version and of the last seven
//     days, and the JSON and text forms of the whole one, each run several times: median and max;
//  2. the database's bytes per stored hit, and which tables and indexes hold them.
// Without --db a database of 10,000,000 hits is generated under the build folder first (minutes), and
// reused by later runs.
//
// usage: zncip-collector-report-bench [--db PATH] [--runs N] [--hits N]

#include "ingest/hit_facts.h"
#include "hit_generator.h"
#include "store/hit_store.h"
#include "report/report.h"
#include "text/days.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace
{

using namespace zncip;
using Clock = std::chrono::steady_clock;

constexpr double kReportTargetMs = 200;
// The collector stored 277 bytes per hit before it kept rollups; they may cost about half as much again.
constexpr double kBytesBefore = 277;
constexpr double kBytesTarget = 415;

bool exists(const std::string& path)
{
    struct stat s;
    return stat(path.c_str(), &s) == 0;
}

int64_t fileSize(const std::string& path)
{
    struct stat s;
    return stat(path.c_str(), &s) == 0 ? static_cast<int64_t>(s.st_size) : 0;
}

struct Timing
{
    double medianMs, maxMs;
};

Timing timeRuns(int runs, const std::function<void()>& work)
{
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i)
    {
        const auto start = Clock::now();
        work();
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms.back()};
}

// Bytes of each table and index, largest first, when this SQLite can tell (its dbstat table).
void printSpace(const std::string& path, int64_t hits)
{
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
    {
        sqlite3_close(db);
        return;
    }
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT name, sum(pgsize) FROM dbstat GROUP BY name ORDER BY 2 DESC", -1, &s,
                           nullptr) == SQLITE_OK)
    {
        std::printf("  where the bytes are (dbstat):\n");
        while (sqlite3_step(s) == SQLITE_ROW)
        {
            const auto bytes = sqlite3_column_int64(s, 1);
            std::printf("    %-30s %8.1f MiB %7.1f bytes/hit\n",
                        reinterpret_cast<const char*>(sqlite3_column_text(s, 0)), bytes / 1048576.0,
                        static_cast<double>(bytes) / static_cast<double>(hits));
        }
    }
    else
        std::printf("  (this SQLite has no dbstat table: no breakdown by table)\n");
    sqlite3_finalize(s);
    sqlite3_close(db);
}

} // namespace

int main(int argc, char** argv)
{
    const std::string self = argv[0];
    std::string db = self.substr(0, self.rfind('/') + 1) + "../bench-data/fleet-10m.db";
    int runs = 5;
    bench::FleetOptions fleet;
    for (int i = 1; i + 1 < argc; i += 2)
    {
        const std::string a = argv[i];
        if (a == "--db")
            db = argv[i + 1];
        else if (a == "--runs")
            runs = std::max(1, std::atoi(argv[i + 1]));
        else if (a == "--hits")
            fleet.hits = std::atoll(argv[i + 1]);
        else
        {
            std::fprintf(stderr, "usage: zncip-collector-report-bench [--db PATH] [--runs N] [--hits N]\n");
            return 2;
        }
    }
    bool missed = false;
    try
    {
        if (!exists(db))
        {
            std::printf("generating %s: %lld hits, %d clients, %d days, %d versions (takes minutes)\n",
                        db.c_str(), static_cast<long long>(fleet.hits), fleet.clients, fleet.days,
                        fleet.versions);
            std::fflush(stdout);
            if (db.find('/') != std::string::npos)
                mkdir(db.substr(0, db.rfind('/')).c_str(), 0755); // the folder in the build tree
            int64_t next = 0;
            const auto made = bench::generateFleet(db, fleet,
                                                   [&](int64_t written, double seconds)
                                                   {
                                                       if (written < next)
                                                           return;
                                                       next = written + 1000000;
                                                       std::printf("  %lld hits, %.0f s\n",
                                                                   static_cast<long long>(written), seconds);
                                                       std::fflush(stdout);
                                                   });
            std::printf("  generated in %.0f s, %.0f hits/s\n", made.seconds,
                        static_cast<double>(made.hits) / made.seconds);
        }
        collector::StoreOptions readOnly;
        readOnly.readOnly = true;
        const auto store = collector::openSqliteStore(db, readOnly);
        const int64_t hits = store->storedHits();
        if (hits == 0)
            throw collector::StoreError(db + " holds no hits");

        collector::Period all;
        const collector::Report whole = collector::buildReport(store->rollups(all), all);
        collector::Period version;
        version.version = whole.applications.empty() ? "1.0" : whole.applications.rbegin()->first.second;
        collector::Period week;
        week.to = whole.to.value_or(0);
        week.from = week.to - 6;

        std::printf("%s: %lld hits, %lld clients, %s to %s\n", db.c_str(), static_cast<long long>(hits),
                    static_cast<long long>(whole.clients),
                    collector::formatDay(whole.from.value_or(0)).c_str(),
                    collector::formatDay(whole.to.value_or(0)).c_str());
        std::printf("report, %d runs each        %10s %10s %10s\n", runs, "median ms", "max ms", "target");
        auto row = [&](const std::string& name, const Timing& t)
        {
            const bool met = t.medianMs <= kReportTargetMs;
            missed |= !met;
            std::printf("  %-26s %10.1f %10.1f %7.0f ms %s\n", name.c_str(), t.medianMs, t.maxMs,
                        kReportTargetMs, met ? "met" : "MISSED");
        };
        for (const auto& [name, period] :
             {std::pair<std::string, const collector::Period&>{"whole period", all},
              {"version " + *version.version, version},
              {"last 7 days", week}})
            row(name, timeRuns(runs,
                               [&]
                               {
                                   // As `report` does: a connection of its own, whose page cache is empty.
                                   const auto fresh = collector::openSqliteStore(db, readOnly);
                                   const auto report = collector::buildReport(fresh->rollups(period), period);
                                   if (report.accepted == 0)
                                       throw collector::StoreError("an empty report for " + name);
                               }));
        row("JSON of the whole period", timeRuns(runs,
                                                 [&]
                                                 {
                                                     if (collector::reportJson(whole).size() < 2)
                                                         throw collector::StoreError("no JSON");
                                                 }));
        row("text of the whole period", timeRuns(runs,
                                                 [&]
                                                 {
                                                     if (collector::formatReport(whole).empty())
                                                         throw collector::StoreError("no text");
                                                 }));

        const int64_t size = fileSize(db) + fileSize(db + "-wal");
        const double perHit = static_cast<double>(size) / static_cast<double>(hits);
        const bool sizeMet = perHit <= kBytesTarget;
        missed |= !sizeMet;
        std::printf(
            "\ndatabase: %.1f MiB, %.1f bytes per stored hit (before the rollups: %.0f; target %.0f) %s\n",
            size / 1048576.0, perHit, kBytesBefore, kBytesTarget, sizeMet ? "met" : "MISSED");
        printSpace(db, hits);
    }
    catch (const std::exception& e)
    {
        std::fprintf(stderr, "zncip-collector-report-bench: %s\n", e.what());
        return 1;
    }
    return missed ? 1 : 0;
}
