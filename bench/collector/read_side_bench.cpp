// The read side of a collector on PostgreSQL: `zncip-collector serve` over a database given (such as the
// one bench/collector/sizing.py grew), its admin API timed request by request, then the hits it stores
// per second alone and while four dashboards loop over the same requests; with --read-db the same again
// with the pages reading a hot standby. Each figure beside its target.
//
// usage: zncip-collector-read-bench --db ADDRESS [--read-db STANDBY] [--runs N] [--seconds S]
//                                   [--dashboards N] [--sync full|normal]

#include "child_collector.h"
#include "text/days.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace
{

using Clock = std::chrono::steady_clock;
using zncip::bench::ChildCollector;
constexpr double kApiTargetMs = 100;
constexpr double kIngestTargetPerSecond = 10000;
constexpr int kIngestConnections = 8;
constexpr unsigned kIngestClients = 100000;

struct Options
{
    std::string program, db, readDb;
    std::string sync = "full"; // the collector's --sync: normal does not wait for the disk
    int runs = 30;
    double seconds = 20;
    int dashboards = 4;
};

// The requests the dashboard makes on opening and on picking a version or the last week.
std::vector<std::string> dashboardPaths()
{
    using namespace zncip::collector;
    const int32_t today = dayOf(std::chrono::duration_cast<std::chrono::microseconds>(
                                    std::chrono::system_clock::now().time_since_epoch())
                                    .count());
    return {"/api/report",
            "/api/report?version=1.1",
            "/api/report?from=" + formatDay(today - 7),
            "/api/versions",
            "/api/rejected?limit=5",
            "/api/csv/commands",
            "/api/csv/days",
            "/api/status",
            "/"};
}

// One GET on a connection of its own (the admin listener closes after each answer): its status and time.
int get(uint16_t port, const std::string& path, double& ms)
{
    const auto start = Clock::now();
    const int fd = zncip::bench::connectTo(port, {true});
    if (fd < 0)
        return 0;
    const std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string answer;
    char chunk[65536];
    for (ssize_t n; (n = recv(fd, chunk, sizeof chunk, 0)) > 0;)
        answer.append(chunk, static_cast<size_t>(n));
    close(fd);
    ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    return answer.size() > 12 ? std::atoi(answer.c_str() + 9) : 0;
}

double percentile(std::vector<double> ms, double p)
{
    if (ms.empty())
        return 0;
    std::sort(ms.begin(), ms.end());
    return ms[std::min(ms.size() - 1, static_cast<size_t>(p * static_cast<double>(ms.size())))];
}

// Each request `runs` times in turn, nothing else running; true when each met the target.
bool timeApi(uint16_t port, int runs, const char* reading)
{
    std::printf("  admin API reading %s, %d requests each:\n", reading, runs);
    std::printf("    %-36s %9s %9s %9s\n", "request", "p50 ms", "p99 ms", "max ms");
    bool met = true;
    for (const std::string& path : dashboardPaths())
    {
        std::vector<double> ms;
        int status = 0;
        for (int i = 0; i < runs; ++i)
        {
            double one = 0;
            status = get(port, path, one);
            ms.push_back(one);
        }
        const double p99 = percentile(ms, 0.99);
        met &= status == 200 && p99 <= kApiTargetMs;
        std::printf("    %-36s %9.1f %9.1f %9.1f%s\n", path.c_str(), percentile(ms, 0.5), p99,
                    *std::max_element(ms.begin(), ms.end()), status == 200 ? "" : "  (not 200)");
    }
    std::printf("    target p99 <= %.0f ms for each: %s\n", kApiTargetMs, met ? "met" : "MISSED");
    return met;
}

// A hit as the module sends it; n numbers it across the whole run, so that the phases go on through the
// clients and labels instead of sending the first ones again.
std::string hitRequest(unsigned n)
{
    static const std::string head =
        "POST /collect HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
        "User-Agent: App SP2 x64/1.2 (WIN; en_US) Ostrevan/1.0 (Qt/5.12.3)\r\nConnection: Keep-Alive\r\n";
    const std::string body = "v=1&tid=UA-582047-16&cid=read-bench-" + std::to_string(n % kIngestClients) +
                             "&t=event&ul=en-us&qt=1&an=App%20SP2%20x64&av=1.2&ec=Commands&ea=Execute"
                             "&el=LINE%20(DRAW" +
                             std::to_string(n % 97) + ")&ev=1";
    return head + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// Closed-loop ingest on keep-alive connections for the time given; counter numbers the hits sent.
zncip::bench::LoadResult ingest(uint16_t port, double seconds, unsigned& counter)
{
    std::vector<int> fds;
    for (int i = 0; i < kIngestConnections; ++i)
        if (const int fd = zncip::bench::connectTo(port, {true}); fd >= 0)
            fds.push_back(fd);
    return zncip::bench::closedLoop(
        fds, seconds, [&](unsigned) { return hitRequest(counter++); }, 30);
}

// The machine's load average over 1, 5 and 15 minutes: other work on the processors shows in the times.
std::string loadAverage()
{
    std::ifstream f("/proc/loadavg");
    std::string a, b, c;
    f >> a >> b >> c;
    return a + " " + b + " " + c;
}

// Peak resident memory of a process so far, in MiB.
double peakRssMib(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atof(line.c_str() + 6) / 1024;
    return 0;
}

// Ingest alone, then beside `dashboards` threads each looping over the dashboard's requests. True when
// both rates met the ingest target and the dashboards' p99 the API's.
bool ingestBesideDashboards(const ChildCollector& c, const Options& o, unsigned& counter, const char* reading)
{
    const auto alone = ingest(c.port, o.seconds, counter);
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::vector<double> readMs;
    long readFailures = 0;
    std::vector<std::thread> readers;
    for (int d = 0; d < o.dashboards; ++d)
        readers.emplace_back(
            [&, d]
            {
                const std::vector<std::string> paths = dashboardPaths();
                for (size_t i = static_cast<size_t>(d); !stop; ++i)
                {
                    double ms = 0;
                    const int status = get(c.adminPort, paths[i % paths.size()], ms);
                    const std::lock_guard<std::mutex> lock(mutex);
                    readMs.push_back(ms);
                    readFailures += status != 200;
                }
            });
    const auto beside = ingest(c.port, o.seconds, counter);
    stop = true;
    for (std::thread& t : readers)
        t.join();
    const double rateAlone = static_cast<double>(alone.ok) / alone.seconds;
    const double rateBeside = static_cast<double>(beside.ok) / beside.seconds;
    const double readP99 = percentile(readMs, 0.99);
    std::printf("  ingest, %d keep-alive connections, %.0f s each, pages reading %s:\n"
                "    alone:                 %8.0f hits/s stored (2xx), %ld not 2xx (target >= %.0f)\n"
                "    beside %d dashboards:   %8.0f hits/s stored (2xx), %ld not 2xx (target >= %.0f), %.0f "
                "%% of alone\n"
                "    the dashboards' reads: %zu, p50 %.1f ms, p99 %.1f ms (target <= %.0f), %ld not 200\n"
                "    collector peak RSS so far: %.1f MiB\n",
                kIngestConnections, o.seconds, reading, rateAlone, alone.failed, kIngestTargetPerSecond,
                o.dashboards, rateBeside, beside.failed, kIngestTargetPerSecond,
                100 * rateBeside / std::max(rateAlone, 1e-9), readMs.size(), percentile(readMs, 0.5), readP99,
                kApiTargetMs, readFailures, peakRssMib(c.pid));
    return rateAlone >= kIngestTargetPerSecond && rateBeside >= kIngestTargetPerSecond &&
           readP99 <= kApiTargetMs && alone.failed + beside.failed + readFailures == 0;
}

bool runOne(const Options& o, bool standby, unsigned& counter)
{
    std::vector<std::string> args = {
        "--port", "0", "--db", o.db, "--sync", o.sync, "--admin-listen", "127.0.0.1:0", "--admin-no-token"};
    if (standby)
        args.insert(args.end(), {"--read-db", o.readDb});
    const char* reading = standby ? "the standby" : "the primary";
    const ChildCollector c = zncip::bench::startCollector(o.program, args);
    bool met = false;
    try
    {
        met = timeApi(c.adminPort, o.runs, reading);
        met &= ingestBesideDashboards(c, o, counter, reading);
    }
    catch (...)
    {
        zncip::bench::stopCollector(c);
        throw;
    }
    zncip::bench::stopCollector(c);
    return met;
}

} // namespace

int main(int argc, char** argv)
{
    Options o;
    const std::string self = argv[0];
    o.program = self.substr(0, self.rfind('/') + 1) + "zncip-collector";
    for (int i = 1; i + 1 < argc; i += 2)
    {
        const std::string a = argv[i], v = argv[i + 1];
        if (a == "--db")
            o.db = v;
        else if (a == "--read-db")
            o.readDb = v;
        else if (a == "--runs")
            o.runs = std::max(1, std::atoi(v.c_str()));
        else if (a == "--seconds")
            o.seconds = std::max(1.0, std::atof(v.c_str()));
        else if (a == "--sync")
            o.sync = v;
        else if (a == "--dashboards")
            o.dashboards = std::max(0, std::atoi(v.c_str()));
    }
    if (o.db.empty())
    {
        std::fprintf(stderr, "usage: zncip-collector-read-bench --db ADDRESS [--read-db STANDBY] [--runs N] "
                             "[--seconds S] [--dashboards N] [--sync full|normal]\n");
        return 2;
    }
    // Each stored hit waits for a sync of the server's log (with --sync full): the disk's pace first.
    std::printf("read side over %s, --sync %s (load average %s; fdatasync here %.2f ms, median)\n",
                o.db.c_str(), o.sync.c_str(), loadAverage().c_str(),
                zncip::bench::medianSyncMs("/tmp", 8192));
    unsigned counter = 0;
    bool met = true;
    try
    {
        met &= runOne(o, false, counter);
        if (!o.readDb.empty())
            met &= runOne(o, true, counter);
    }
    catch (const std::exception& e)
    {
        std::printf("read side: %s\n", e.what());
        return 1;
    }
    std::printf("read side: targets %s (load average %s)\n", met ? "met" : "MISSED", loadAverage().c_str());
    return met ? 0 : 1;
}
