// Throughput and latency of `zncip-collector serve`, started as a child process:
//  1. 8 keep-alive connections posting event hits of a thousand clients as fast as answers come, first
//     against a server that answers without storing (the HTTP layer alone), then storing with each hit
//     and its share of the rollups committed before its answer; afterwards the stored hits are counted and
//     must equal the 2xx answers. With --compare, the same load against another build of the collector
//     (the one before the rollups), the two taking turns for N rounds (3), and the median rate of this one
//     against the other's beside its floor.
//  2. The store alone, in this process: appending the same hits 8 at a time without syncing, the
//     processor time per hit and the statements it goes to, as SQLite's profile hook reports them.
//  3. One connection posting sequentially the way the module's Qt client does: header and body in two
//     writes, no TCP_NODELAY, once with the server's quick ACK and once without.
//
// usage: zncip-collector-bench [--seconds S] [--collector PATH] [--compare PATH [--rounds N]] [--dir TMPDIR]

#include "child_collector.h"
#include "store/hit_store.h"
#include "ingest/validation.h"

#include <sqlite3.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace
{

using Clock = std::chrono::steady_clock;

const char kAgent[] = "App SP2 x64/1.0 (WIN; en_US) Ostrevan/1.0 (Qt/5.12.3)";

// A command of one of a thousand clients: most hits add to rollup rows that exist already, some make a
// client present under a key for the first time that day, as a running fleet does.
std::string hitBody(unsigned n)
{
    char cid[40];
    std::snprintf(cid, sizeof cid, "35009a79-1a05-49d7-b876-%012u", (n * 7919u) % 1000u);
    return std::string("v=1&tid=UA-582047-16&cid=") + cid +
           "&t=event&ul=en-us&qt=1&an=App%20SP2%20x64&av=1.0&ec=Commands&ea=Execute&el=LINE%20(GROUP" +
           std::to_string(n % 97) + ")&ev=1";
}

std::string requestHead(uint16_t port, size_t length)
{
    return "POST /collect HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
           "\r\nContent-Type: application/x-www-form-urlencoded\r\nUser-Agent: " + kAgent +
           "\r\nConnection: Keep-Alive\r\nContent-Length: " + std::to_string(length) +
           "\r\nAccept-Encoding: gzip, deflate\r\nAccept-Language: en-US,*\r\n\r\n";
}

using zncip::bench::startCollector;
using zncip::bench::stopCollector;

int connectTo(uint16_t port)
{
    const int fd = zncip::bench::connectTo(port);
    if (fd < 0)
        throw std::runtime_error(std::string("connect: ") + std::strerror(errno));
    return fd;
}

using Result = zncip::bench::LoadResult;
using zncip::bench::completeResponse;

// Keep-alive connections with TCP_NODELAY, closed loop.
Result loadRun(uint16_t port, int connections, double seconds)
{
    std::vector<int> fds;
    for (int i = 0; i < connections; ++i)
    {
        fds.push_back(connectTo(port));
        const int one = 1;
        setsockopt(fds.back(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    return zncip::bench::closedLoop(
        fds, seconds,
        [&](unsigned n)
        {
            const std::string body = hitBody(n);
            return requestHead(port, body.size()) + body;
        },
        5);
}

// Sequential posts as the module's Qt client makes them: the header, then the body in a second write,
// Nagle left on.
Result qtStyleRun(uint16_t port, double seconds, int maxRequests)
{
    const int fd = connectTo(port);
    Result r;
    std::string in;
    char buf[4096];
    const auto start = Clock::now();
    for (int i = 0; i < maxRequests && Clock::now() - start < std::chrono::duration<double>(seconds); ++i)
    {
        const std::string body = hitBody(static_cast<unsigned>(i));
        const std::string head = requestHead(port, body.size());
        const auto sent = Clock::now();
        if (write(fd, head.data(), head.size()) < 0 || write(fd, body.data(), body.size()) < 0)
            throw std::runtime_error("write failed");
        int status = 0;
        size_t len;
        while ((len = completeResponse(in, status)) == 0)
        {
            const ssize_t got = read(fd, buf, sizeof buf);
            if (got <= 0)
                throw std::runtime_error("connection closed by the collector");
            in.append(buf, static_cast<size_t>(got));
        }
        in.erase(0, len);
        r.latenciesMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
        (status >= 200 && status < 300 ? r.ok : r.failed)++;
    }
    r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    close(fd);
    return r;
}

// Read with SQLite itself, so that the database of any build of the collector can be counted.
long storedHits(const std::string& db)
{
    sqlite3* handle = nullptr;
    sqlite3_stmt* count = nullptr;
    long n = -1;
    if (sqlite3_open_v2(db.c_str(), &handle, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(handle, "SELECT count(*) FROM hits", -1, &count, nullptr) == SQLITE_OK &&
        sqlite3_step(count) == SQLITE_ROW)
        n = static_cast<long>(sqlite3_column_int64(count, 0));
    sqlite3_finalize(count);
    sqlite3_close(handle);
    return n;
}

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Time spent in each SQL statement of the connections opened while profiling is on.
struct StatementProfile
{
    bool on = false;
    std::map<std::string, std::pair<long, double>> runsAndUs;
} profile;

int onStatementDone(unsigned, void*, void* statement, void* nanoseconds)
{
    if (profile.on)
    {
        auto& entry = profile.runsAndUs[sqlite3_sql(static_cast<sqlite3_stmt*>(statement))];
        ++entry.first;
        entry.second += static_cast<double>(*static_cast<sqlite3_int64*>(nanoseconds)) / 1e3;
    }
    return 0;
}

int onConnectionOpened(sqlite3* db, char**, const sqlite3_api_routines*)
{
    sqlite3_trace_v2(db, SQLITE_TRACE_PROFILE, &onStatementDone, nullptr);
    return SQLITE_OK;
}

double processorSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

void storeAlone(const std::string& db, int hits)
{
    using namespace zncip::collector;
    std::vector<std::vector<HitRecord>> batches;
    const int64_t now = std::chrono::duration_cast<std::chrono::microseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
    for (int i = 0; i < hits; i += 8)
    {
        std::vector<HitRecord> batch;
        for (int j = i; j < std::min(i + 8, hits); ++j)
        {
            HitRecord hit;
            hit.receivedUs = now + j;
            hit.path = "/collect";
            hit.body = hitBody(static_cast<unsigned>(j));
            hit.accepted = validateHit(hit.body).valid();
            hit.userAgent = kAgent;
            batch.push_back(std::move(hit));
        }
        batches.push_back(std::move(batch));
    }
    sqlite3_auto_extension(reinterpret_cast<void (*)()>(&onConnectionOpened));
    StoreOptions options;
    options.syncFull = false;
    const auto store = openSqliteStore(db, options);
    profile.on = true;
    const double cpuStart = processorSeconds();
    const auto start = Clock::now();
    for (const auto& batch : batches)
        store->append(batch);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = processorSeconds() - cpuStart;
    profile.on = false;
    sqlite3_cancel_auto_extension(reinterpret_cast<void (*)()>(&onConnectionOpened));

    std::printf("\nstore alone: %d hits appended 8 at a time, sync=normal, in this process\n", hits);
    std::printf("  %.0f hits/s, %.1f us per hit, %.1f us processor time per hit; in SQL statements:\n",
                hits / seconds, seconds * 1e6 / hits, cpu * 1e6 / hits);
    std::vector<std::pair<double, std::string>> rows;
    for (const auto& [sql, entry] : profile.runsAndUs)
        rows.emplace_back(entry.second, sql);
    std::sort(rows.rbegin(), rows.rend());
    for (const auto& [us, sql] : rows)
        std::printf("  %6.1f us/hit %8ld runs  %.80s\n", us / hits, profile.runsAndUs[sql].first,
                    sql.c_str());
}

// The stored rate may fall by a fifth at most for keeping the rollups in the same transaction.
constexpr double kRateFloorRatio = 0.8;

} // namespace

int main(int argc, char** argv)
{
    double seconds = 5;
    std::string self = argv[0];
    std::string program = self.substr(0, self.rfind('/') + 1) + "zncip-collector";
    std::string dir = "/tmp";
    std::string compare;
    int rounds = 3;
    for (int i = 1; i + 1 < argc; i += 2)
    {
        const std::string a = argv[i];
        if (a == "--seconds")
            seconds = std::atof(argv[i + 1]);
        else if (a == "--collector")
            program = argv[i + 1];
        else if (a == "--dir")
            dir = argv[i + 1];
        else if (a == "--compare")
            compare = argv[i + 1];
        else if (a == "--rounds")
            rounds = std::max(1, std::atoi(argv[i + 1]));
    }
    char tmpl[4096];
    std::snprintf(tmpl, sizeof tmpl, "%s/zncip-collector-bench.XXXXXX", dir.c_str());
    if (!mkdtemp(tmpl))
    {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string work = tmpl;
    bool lost = false;
    bool belowTarget = false;

    try
    {
        std::printf("disk: 4 KiB write + fdatasync in %s: median %.3f ms\n", dir.c_str(),
                    zncip::bench::medianSyncMs(work, 4096));
        std::printf("zncip-collector: 8 keep-alive connections, %.0f s per row, POST /collect\n", seconds);
        std::printf("  %-34s %10s %8s %8s %8s %9s %9s %11s\n", "server", "hits/s", "p50 ms", "p99 ms",
                    "max ms", "2xx", "stored", "cpu us/hit");
        struct Mode
        {
            const char* name;
            std::vector<std::string> args;
            bool stores;
            std::string program;
        };
        const Mode stored[] = {{"stores, sync=full (default)", {}, true, program},
                               {"--compare: stores, sync=full", {}, true, compare},
                               {"stores, sync=normal", {"--sync", "normal"}, true, program},
                               {"--compare: stores, sync=normal", {"--sync", "normal"}, true, compare}};
        // With --compare the two builds take turns, so that a neighbour's load falls on both alike.
        std::vector<Mode> modes = {{"baseline: answers, stores nothing", {"--discard"}, false, program}};
        for (int round = 0; round < (compare.empty() ? 1 : rounds); ++round)
            for (const Mode& m : stored)
                if (!m.program.empty())
                    modes.push_back(m);
        std::vector<double> rates[4], cpuPerHit[4]; // by row of stored
        int index = 0;
        for (const Mode& m : modes)
        {
            const std::string db = work + "/load" + std::to_string(index++) + ".db";
            std::vector<std::string> args = m.args;
            args.insert(args.end(), {"--port", "0", "--db", db});
            if (m.program == program) // a build to compare with may be older than the admin listener
                args.push_back("--no-admin");
            const auto c = startCollector(m.program, args);
            Result r = loadRun(c.port, 8, seconds);
            const double cpu = stopCollector(c);
            const long hits = m.stores ? storedHits(db) : -1;
            const double rate = static_cast<double>(r.ok) / r.seconds;
            const double p99 = r.percentile(0.99);
            const double cpuUs = r.ok ? cpu * 1e6 / static_cast<double>(r.ok) : 0;
            for (size_t row = 0; row < 4; ++row)
                if (std::strcmp(m.name, stored[row].name) == 0)
                {
                    rates[row].push_back(rate);
                    cpuPerHit[row].push_back(cpuUs);
                }
            std::printf("  %-34s %10.0f %8.3f %8.3f %8.3f %9ld %9s %11.1f\n", m.name, rate, r.percentile(0.5),
                        p99, r.percentile(1.0), r.ok, m.stores ? std::to_string(hits).c_str() : "-", cpuUs);
            if (m.stores && hits != r.ok)
                lost = true;
            if (m.stores && m.args.empty() && m.program == program && (rate < 15000 || p99 > 5.0))
                belowTarget = true;
        }
        if (!compare.empty())
        {
            std::printf("  medians of %d round(s), this build against --compare:\n", rounds);
            for (size_t row : {0, 2})
            {
                const double ratio = median(rates[row]) / median(rates[row + 1]);
                std::printf("  %-34s %.0f against %.0f hits/s = %.2f (floor %.2f) %s; processor time %.1f "
                            "against %.1f us per hit\n",
                            stored[row].name, median(rates[row]), median(rates[row + 1]), ratio,
                            kRateFloorRatio, ratio >= kRateFloorRatio ? "met" : "MISSED",
                            median(cpuPerHit[row]), median(cpuPerHit[row + 1]));
                belowTarget |= row == 0 && ratio < kRateFloorRatio;
            }
        }

        storeAlone(work + "/alone.db", 20000);

        std::printf(
            "\nQt-style client: 1 connection, sequential, header and body in two writes, no TCP_NODELAY\n");
        std::printf("  %-34s %10s %8s %8s %8s %9s\n", "server", "requests", "p50 ms", "p99 ms", "max ms",
                    "req/s");
        const Mode qtModes[] = {{"quick ACK re-armed (default)", {}, true, program},
                                {"without quick ACK", {"--no-quickack"}, true, program}};
        for (const Mode& m : qtModes)
        {
            const std::string db = work + "/qt" + std::to_string(index++) + ".db";
            std::vector<std::string> args = m.args;
            args.insert(args.end(), {"--port", "0", "--no-admin", "--db", db});
            const auto c = startCollector(program, args);
            Result r = qtStyleRun(c.port, std::min(seconds, 3.0), 5000);
            stopCollector(c);
            const long n = r.ok;
            std::printf("  %-34s %10ld %8.3f %8.3f %8.3f %9.0f\n", m.name, n, r.percentile(0.5),
                        r.percentile(0.99), r.percentile(1.0), static_cast<double>(n) / r.seconds);
        }
    }
    catch (const std::exception& e)
    {
        std::fprintf(stderr, "zncip-collector-bench: %s\n", e.what());
        std::system(("rm -rf '" + work + "'").c_str());
        return 1;
    }
    std::system(("rm -rf '" + work + "'").c_str());
    std::printf("\ntarget (stores, sync=full): 15000 hits/s, p99 <= 5 ms%s: %s\n",
                compare.empty() ? "" : ", 0.8 of --compare's rate", belowTarget ? "MISSED" : "met");
    if (lost)
    {
        std::printf("stored hits differ from 2xx answers\n");
        return 1;
    }
    return 0;
}
