// Processor time per stored hit on PostgreSQL, beside the database's own floor (over 400 lines: reading
// the processor time of a server's processes, the load, the floor and the profile make one measurement).
// Two `zncip-collector serve` processes share a throw-away server (tools/pg_cluster.sh); each is sent half
// of N hits from 1,000 clients, every client always to the same collector, first as clients new that day,
// then the same hits again as known clients. The processor time of the collectors and of every server
// process, per hit stored, is set beside pgbench writing the rows such hits cause on the same tables, as
// many hits a transaction as the collectors' mean batch of that run (pg_floor/*.sql). The load generator
// (this process) is left out, as pgbench is not: it stands for the collectors. Last, the same requests go
// to collectors that answer without storing, for the HTTP exchange's share. Exits non-zero when a case
// costs more than 1.5 times its floor or the stored hits are not the answered ones.
//
// usage: zncip-collector-pg-cpu-bench [--hits N] [--clients N] [--statements] [--compare COLLECTOR]
//                                     [--rounds N] [--connections N]
// (--statements: the server also times each statement, those of the batch function included, and the
// costliest are printed; the figures are then the profiler's as well; --compare: the rounds of another
// build's zncip-collector in turns with this one's, each on a fresh server; --connections: to each
// collector, 8 unless told, and pgbench's sessions with them)

#include "child_collector.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace
{

const std::string kPgBin = "/usr/lib/postgresql/15/bin";
constexpr double kTargetRatio = 1.5;
constexpr int kCollectors = 2;
constexpr int kLabels = 97; // distinct commands: a hit's (client, command) is new until hit kLabels*clients

using zncip::bench::ChildCollector;
using zncip::bench::lastLine;

// The m-th hit of a run: its client is m % clients, its command m % kLabels.
std::string hitRequest(unsigned m, unsigned clients, int run)
{
    const std::string body =
        "v=1&tid=UA-582047-16&cid=cpu-client-" + std::to_string(m % clients) +
        "&t=event&ul=en-us&qt=1&an=App%20SP2%20x64&av=1.0&ec=Commands&ea=Execute&el=LINE%20"
        "(GROUP" +
        std::to_string(m % kLabels) + ")&ev=" + std::to_string(m + 1) + "&r=" + std::to_string(run);
    return "POST /collect HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
           "User-Agent: App SP2 x64/1.0 (WIN; en_US) Ostrevan/1.0 (Qt/5.12.3)\r\nConnection: Keep-Alive\r\n"
           "Content-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}

struct ProcStat
{
    long parent = 0;
    double own = 0;      // utime + stime, seconds
    double children = 0; // cutime + cstime: the children it has waited for
};

bool readStat(const std::string& pid, ProcStat& out)
{
    std::ifstream f("/proc/" + pid + "/stat");
    std::string text;
    if (!std::getline(f, text))
        return false;
    const size_t close = text.rfind(')'); // the command name may hold spaces
    unsigned long user = 0, system = 0;
    long childUser = 0, childSystem = 0;
    if (close == std::string::npos ||
        std::sscanf(text.c_str() + close + 2, "%*c %ld %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu %ld %ld",
                    &out.parent, &user, &system, &childUser, &childSystem) != 5)
        return false;
    const double tick = static_cast<double>(sysconf(_SC_CLK_TCK));
    out.own = static_cast<double>(user + system) / tick;
    out.children = static_cast<double>(childUser + childSystem) / tick;
    return true;
}

double processSeconds(pid_t pid)
{
    ProcStat s;
    if (!readStat(std::to_string(pid), s))
        throw std::runtime_error("process " + std::to_string(pid) + " is gone");
    return s.own;
}

// Every processor second the given collectors have used so far.
double collectorSeconds(const std::vector<ChildCollector>& collectors)
{
    double seconds = 0;
    for (const ChildCollector& c : collectors)
        seconds += processSeconds(c.pid);
    return seconds;
}

std::vector<std::string> childrenOf(long parent)
{
    std::vector<std::string> pids;
    for (const auto& entry : std::filesystem::directory_iterator("/proc"))
    {
        const std::string name = entry.path().filename();
        ProcStat s;
        if (name.find_first_not_of("0123456789") == std::string::npos && readStat(name, s) &&
            s.parent == parent)
            pids.push_back(name);
    }
    return pids;
}

// Every processor second the server has used: the postmaster's own, what its children that ended used
// (the kernel adds it to the postmaster's when it waits for them), and what the live ones used so far. A
// child that ends while they are read is counted twice or not at all, so the reading is repeated until
// the postmaster waited for none meanwhile.
double serverSeconds(long postmaster)
{
    for (;;)
    {
        ProcStat before, after;
        if (!readStat(std::to_string(postmaster), before))
            throw std::runtime_error("the server is gone");
        double live = 0;
        for (const std::string& pid : childrenOf(postmaster))
        {
            ProcStat s;
            if (readStat(pid, s))
                live += s.own + s.children;
        }
        if (readStat(std::to_string(postmaster), after) && after.children == before.children)
            return after.own + after.children + live;
    }
}

// Waits until exactly n sessions are connected to the database, so that no session ends inside a
// measured span that began outside it.
void awaitSessions(long postmaster, const std::string& database, size_t n)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;)
    {
        size_t sessions = 0;
        for (const std::string& pid : childrenOf(postmaster))
        {
            std::ifstream f("/proc/" + pid + "/cmdline");
            std::string title;
            std::getline(f, title, '\0');
            sessions += title.find(" " + database + " ") != std::string::npos;
        }
        if (sessions == n)
            return;
        if (std::chrono::steady_clock::now() > until)
            throw std::runtime_error(std::to_string(sessions) + " sessions on the database, not " +
                                     std::to_string(n));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// One number a query answers. The next transaction id: each batch a collector commits takes one, a read none.
long psqlNumber(const std::string& db, const std::string& query)
{
    return std::atol(lastLine(kPgBin + "/psql '" + db + "' -XAtc '" + query + "'").c_str());
}
const char* const kNextTransaction = "SELECT pg_snapshot_xmax(pg_current_snapshot())";

struct Cost
{
    long units = 0;        // hits stored
    long transactions = 0; // that stored them
    double client = 0, server = 0;

    double clientUs() const { return 1e6 * client / static_cast<double>(std::max(1L, units)); }
    double serverUs() const { return 1e6 * server / static_cast<double>(std::max(1L, units)); }
    double totalUs() const { return clientUs() + serverUs(); }
    double batch() const
    {
        return static_cast<double>(units) / static_cast<double>(std::max(1L, transactions));
    }
    long wholeBatch() const { return std::max(1L, std::lround(batch())); } // the floor's hits a transaction
};

struct Bench
{
    std::string db;
    long postmaster = 0;
    std::vector<ChildCollector> collectors;
    unsigned hits = 10000, clients = 1000;
    int connections = 8; // to each collector; pgbench has as many sessions as the collectors have in all

    // Counted by psql rather than a store of this build, which would upgrade the schema of another's.
    long stored() const { return psqlNumber(db, "SELECT count(*) FROM hits"); }

    // One run of the hits to the given collectors, each collector's half on its own thread.
    std::vector<zncip::bench::LoadResult> send(const std::vector<ChildCollector>& to, int run) const
    {
        std::vector<zncip::bench::LoadResult> loads(to.size());
        std::vector<std::thread> drivers;
        for (size_t k = 0; k < to.size(); ++k)
            drivers.emplace_back(
                [&, k]
                {
                    std::vector<int> fds;
                    for (int i = 0; i < connections; ++i)
                        fds.push_back(zncip::bench::connectTo(to[k].port, {true}));
                    // The j-th hit sent to collector k is hit j * kCollectors + k: its clients are its own.
                    loads[k] = zncip::bench::closedLoop(
                        fds, 3600,
                        [&](unsigned j)
                        { return hitRequest(j * kCollectors + static_cast<unsigned>(k), clients, run); },
                        10, hits / kCollectors);
                });
        for (std::thread& t : drivers)
            t.join();
        return loads;
    }

    // The same requests to collectors that answer without parsing or storing: what the HTTP exchange of
    // a hit costs them, a part of the collectors' share that no store can take away.
    Cost exchangeOnly(const std::string& program) const
    {
        std::vector<ChildCollector> discarding;
        for (int i = 0; i < kCollectors; ++i)
            discarding.push_back(
                zncip::bench::startCollector(program, {"--no-admin", "--port", "0", "--discard"}));
        const double before = collectorSeconds(discarding);
        Cost cost;
        // A run of its own: what its bodies say is not looked at.
        for (const zncip::bench::LoadResult& l : send(discarding, 3))
            cost.units += l.ok;
        cost.client = collectorSeconds(discarding) - before;
        for (const ChildCollector& c : discarding)
            zncip::bench::stopCollector(c);
        return cost;
    }

    // One run of the hits through the collectors.
    Cost collect(int run, bool& exact)
    {
        const long before = stored();
        const long firstTransaction = psqlNumber(db, kNextTransaction);
        awaitSessions(postmaster, "zncip", collectors.size());
        const double clientBefore = collectorSeconds(collectors);
        const double serverBefore = serverSeconds(postmaster);
        const std::vector<zncip::bench::LoadResult> loads = send(collectors, run);
        Cost cost;
        cost.server = serverSeconds(postmaster) - serverBefore;
        cost.client = collectorSeconds(collectors) - clientBefore;
        long ok = 0, failed = 0;
        for (const auto& l : loads)
            ok += l.ok, failed += l.failed;
        cost.transactions = psqlNumber(db, kNextTransaction) - firstTransaction;
        cost.units = stored() - before;
        exact = exact && cost.units == ok && failed == 0;
        if (cost.units != ok || failed)
            std::printf("  run %d: %ld answered 2xx, %ld not, %ld stored  MISMATCH\n", run, ok, failed,
                        cost.units);
        return cost;
    }

    // pgbench running one script, batch hits a transaction, for about as many hits as the collectors were
    // sent, on as many sessions as the collectors are sent hits on; the collectors stay connected, idle.
    Cost floor(const std::string& dir, const std::string& name, long batch)
    {
        const std::string file = std::string(ZNCIP_SOURCE_DIR) + "/bench/collector/pg_floor/" + name + ".sql";
        const std::string log = dir + "/" + name + ".log";
        const int sessions = kCollectors * connections;
        const long perSession = std::max(1L, static_cast<long>(hits) / (sessions * batch));
        awaitSessions(postmaster, "zncip", collectors.size());
        const double serverBefore = serverSeconds(postmaster);
        std::fflush(nullptr); // or the child writes what this process has yet to
        const pid_t pid = fork();
        if (pid == 0)
        {
            if (!std::freopen(log.c_str(), "w", stdout) || !std::freopen(log.c_str(), "a", stderr))
                _exit(126);
            const std::string clients = std::to_string(sessions);
            execl((kPgBin + "/pgbench").c_str(), "pgbench", "-n", "-M", "prepared", "-c", clients.c_str(),
                  "-j", "1", "-t", std::to_string(perSession).c_str(), "-D",
                  ("n=" + std::to_string(batch)).c_str(), "-f", file.c_str(), db.c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        int status = 0;
        rusage usage{};
        wait4(pid, &status, 0, &usage);
        awaitSessions(postmaster, "zncip", collectors.size());
        Cost cost;
        cost.server = serverSeconds(postmaster) - serverBefore;
        cost.client = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                      static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            throw std::runtime_error("pgbench failed, see " + log);
        cost.transactions = sessions * perSession;
        cost.units = cost.transactions * batch;
        return cost;
    }
};

// Turns on the timing of every statement, nested ones too, for the server in folder pg.
void trackStatements(const std::string& script, const std::string& pg, const std::string& db)
{
    std::ofstream(pg + "/data/postgresql.conf", std::ios::app)
        << "shared_preload_libraries = 'pg_stat_statements'\npg_stat_statements.track = all\n";
    lastLine(script + " stop " + pg + " && " + script + " start " + pg);
    lastLine(kPgBin + "/psql '" + db + "' -Xqc 'CREATE EXTENSION pg_stat_statements'; echo");
}

// The costliest statements since the last call, which forgets them.
void printStatements(const std::string& db, const char* what)
{
    const std::string query = "SELECT round(total_exec_time)::text || ' ms', calls, rows, "
                              "left(regexp_replace(query, '\\s+', ' ', 'g'), 110) FROM pg_stat_statements "
                              "ORDER BY total_exec_time DESC LIMIT 15";
    std::printf("  statements of %s by time (total, calls, rows, text):\n", what);
    std::fflush(stdout);
    // How the lookups of ids went: tables read whole, or probed by index.
    const std::string tables = "SELECT relname, seq_scan, seq_tup_read, idx_scan FROM pg_stat_user_tables "
                               "WHERE relname IN ('clients', 'rollup_keys', 'user_agents') ORDER BY 1";
    const std::string psql = kPgBin + "/psql '" + db + "' -XAF ' | ' -c ";
    if (std::system((psql + "\"" + query + "\"").c_str()) != 0 ||
        std::system((psql + "\"" + tables + "\"").c_str()) != 0 ||
        std::system((psql + "'SELECT pg_stat_statements_reset(), pg_stat_reset()' >/dev/null").c_str()) != 0)
        throw std::runtime_error("reading pg_stat_statements failed");
}

bool report(const char* what, const Cost& hit, const Cost& floor)
{
    const double ratio = hit.totalUs() / std::max(floor.totalUs(), 1e-9);
    std::printf(
        "  %-14s collectors %6.1f + server %6.1f = %6.1f us per hit (%ld hits, %.1f a commit); floor: "
        "pgbench %5.1f + server %5.1f = %5.1f us per hit (%ld a commit); %.2fx (target <= %.1fx)%s\n",
        what, hit.clientUs(), hit.serverUs(), hit.totalUs(), hit.units, hit.batch(), floor.clientUs(),
        floor.serverUs(), floor.totalUs(), floor.units / std::max(1L, floor.transactions), ratio,
        kTargetRatio, ratio <= kTargetRatio ? "" : "  MISSED");
    return ratio <= kTargetRatio;
}

// One round on a server of its own in dir/pg: both cases of one build beside their floors, printed.
bool measure(Bench& bench, const std::string& program, const std::string& dir, bool statements)
{
    const std::string script = std::string(ZNCIP_SOURCE_DIR) + "/tools/pg_cluster.sh";
    bool ok = false;
    try
    {
        bench.db = lastLine(script + " start " + dir + "/pg");
        if (statements)
            trackStatements(script, dir + "/pg", bench.db);
        std::ifstream pidFile(dir + "/pg/data/postmaster.pid");
        if (!(pidFile >> bench.postmaster))
            throw std::runtime_error("no postmaster.pid");
        bench.collectors.clear();
        for (int i = 0; i < kCollectors; ++i)
            bench.collectors.push_back(zncip::bench::startCollector(
                program, {"--no-admin", "--port", "0", "--db", bench.db, "--sync", "full"}));
        // Each case beside its floor, so that the load of a shared machine weighs on both alike.
        bool exact = true;
        if (statements)
            printStatements(bench.db, "starting");
        const Cost fresh = bench.collect(1, exact);
        if (statements)
            printStatements(bench.db, "new clients");
        const Cost newFloor = bench.floor(dir, "new_hit", fresh.wholeBatch());
        if (statements)
            printStatements(bench.db, "pgbench");
        const Cost known = bench.collect(2, exact);
        if (statements)
            printStatements(bench.db, "known clients");
        const Cost knownFloor = bench.floor(dir, "known_hit", known.wholeBatch());
        const Cost exchange = bench.exchangeOnly(program);
        std::printf(
            "processor per stored hit on PostgreSQL, %s, %d collectors x %d connections, %u hits of %u "
            "clients a run:\n",
            program.c_str(), kCollectors, bench.connections, bench.hits, bench.clients);
        const bool newOk = report("new clients:", fresh, newFloor);
        const bool knownOk = report("known clients:", known, knownFloor);
        std::printf(
            "  HTTP alone:    collectors %6.1f us per hit answering the same requests without storing "
            "them (%ld answered)\n",
            exchange.clientUs(), exchange.units);
        ok = newOk && knownOk && exact;
    }
    catch (const std::exception& e)
    {
        std::printf("processor per hit on PostgreSQL: %s\n", e.what());
    }
    for (const ChildCollector& c : bench.collectors) // a failed case leaves none running
        zncip::bench::stopCollector(c);
    lastLine(script + " stop " + dir + "/pg >/dev/null; echo");
    std::filesystem::remove_all(dir + "/pg");
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    Bench bench;
    bool statements = false;
    std::string compare;
    int rounds = 1;
    for (int i = 1; i < argc; ++i)
    {
        const std::string a = argv[i];
        if (a == "--statements")
            statements = true;
        else if (a == "--hits" && i + 1 < argc)
            bench.hits = static_cast<unsigned>(std::max(1, std::atoi(argv[++i])));
        else if (a == "--clients" && i + 1 < argc)
            bench.clients = static_cast<unsigned>(std::max(kCollectors, std::atoi(argv[++i])));
        else if (a == "--compare" && i + 1 < argc)
            compare = argv[++i];
        else if (a == "--connections" && i + 1 < argc)
            bench.connections = std::max(1, std::atoi(argv[++i]));
        else if (a == "--rounds" && i + 1 < argc)
            rounds = std::max(1, std::atoi(argv[++i]));
    }
    bench.clients -= bench.clients % kCollectors; // a client's hits all go to one collector
    bench.hits = std::max(bench.hits, static_cast<unsigned>(2 * kCollectors * bench.connections));
    const std::string self = argv[0];
    const std::string program = self.substr(0, self.rfind('/') + 1) + "zncip-collector";
    if (!std::filesystem::exists(kPgBin + "/pg_ctl") || !std::filesystem::exists(kPgBin + "/pgbench"))
    {
        std::printf("processor per hit on PostgreSQL: skipped, no PostgreSQL server or pgbench installed\n");
        return 0;
    }
    char folder[] = "/tmp/zncip-pg-cpu-XXXXXX";
    const std::string dir = mkdtemp(folder);
    std::filesystem::permissions(dir, std::filesystem::perms(0755));
    bool ok = true;
    // Another build's rounds in turns with this one's, for a figure before and after a change.
    for (int r = 0; r < rounds; ++r)
    {
        ok = measure(bench, program, dir, statements) && ok;
        if (!compare.empty())
            measure(bench, compare, dir, statements);
    }
    std::filesystem::remove_all(dir);
    return ok ? 0 : 1;
}
