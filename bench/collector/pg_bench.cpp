// Two `zncip-collector serve` processes sharing one PostgreSQL database (a throw-away server started with
// tools/pg_cluster.sh), 8 keep-alive connections to each, every hit answered only once committed. Prints
// the hits per second stored durably, and checks that the database holds exactly the hits answered 2xx.
//
// usage: zncip-collector-pg-bench [--seconds S] [--clients N] [--sync full|normal]
// (--sync normal: commits not waited for on disk, to tell the disk's share from the processors')

#include "child_collector.h"
#include "store/hit_store.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace
{

const std::string kPgBin = "/usr/lib/postgresql/15/bin";
constexpr double kTargetPerSecond = 10000;

// Hits of many clients, so that the distinct-client rollups have work to do, and each body unique.
std::string hitBody(unsigned n, unsigned clients)
{
    return "v=1&tid=UA-582047-16&cid=bench-client-" + std::to_string(n % clients) +
           "&t=event&ul=en-us&qt=1&an=App%20SP2%20x64&av=1.0&ec=Commands&ea=Execute&el=LINE%20(GROUP" +
           std::to_string(n % 97) + ")&ev=" + std::to_string(n);
}

std::string requestHead(size_t length)
{
    return "POST /collect HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
           "User-Agent: App SP2 x64/1.0 (WIN; en_US) Ostrevan/1.0 (Qt/5.12.3)\r\nConnection: Keep-Alive\r\n"
           "Content-Length: " +
           std::to_string(length) + "\r\n\r\n";
}

using zncip::bench::ChildCollector;
using zncip::bench::lastLine;
using zncip::bench::stopCollector;

ChildCollector startCollector(const std::string& program, const std::string& db, const std::string& sync)
{
    return zncip::bench::startCollector(program, {"--no-admin", "--port", "0", "--db", db, "--sync", sync});
}

int connectTo(uint16_t port)
{
    const int fd = zncip::bench::connectTo(port, {true});
    if (fd < 0)
        throw std::runtime_error(std::string("connect: ") + std::strerror(errno));
    return fd;
}

// perCollector keep-alive connections to each collector, closed loop.
zncip::bench::LoadResult run(const std::vector<uint16_t>& ports, int perCollector, double seconds,
                             unsigned clients)
{
    std::vector<int> fds;
    for (uint16_t port : ports)
        for (int i = 0; i < perCollector; ++i)
            fds.push_back(connectTo(port));
    return zncip::bench::closedLoop(
        fds, seconds,
        [&](unsigned n)
        {
            const std::string body = hitBody(n, clients);
            return requestHead(body.size()) + body;
        },
        10);
}

// Processor seconds used so far by a process, and by every child of another (the server's backends).
double cpuSeconds(pid_t pid, pid_t childrenOf = 0)
{
    double total = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc"))
    {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        FILE* f = std::fopen((entry.path() / "stat").c_str(), "r");
        if (!f)
            continue;
        char text[1024] = {};
        const size_t n = std::fread(text, 1, sizeof text - 1, f);
        std::fclose(f);
        const char* rest = std::strrchr(text, ')'); // the command name may hold spaces
        long parent = 0;
        unsigned long user = 0, system = 0;
        if (!n || !rest ||
            std::sscanf(rest + 2, "%*c %ld %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &parent, &user,
                        &system) != 3)
            continue;
        if (std::atol(name.c_str()) == pid || (childrenOf && parent == childrenOf))
            total += static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
    }
    return total;
}

} // namespace

int main(int argc, char** argv)
{
    double seconds = 10;
    unsigned clients = 1000;
    std::string sync = "full";
    for (int i = 1; i + 1 < argc; i += 2)
    {
        const std::string a = argv[i];
        if (a == "--seconds")
            seconds = std::atof(argv[i + 1]);
        else if (a == "--sync")
            sync = argv[i + 1];
        else if (a == "--clients")
            clients = static_cast<unsigned>(std::max(1, std::atoi(argv[i + 1])));
    }
    const std::string self = argv[0];
    const std::string program = self.substr(0, self.rfind('/') + 1) + "zncip-collector";
    const std::string script = std::string(ZNCIP_SOURCE_DIR) + "/tools/pg_cluster.sh";
    if (!std::filesystem::exists(kPgBin + "/pg_ctl"))
    {
        std::printf("collector on PostgreSQL: skipped, no PostgreSQL server installed\n");
        return 0;
    }
    char folder[] = "/tmp/zncip-pg-bench-XXXXXX";
    const std::string dir = mkdtemp(folder);
    std::filesystem::permissions(dir, std::filesystem::perms(0755));
    int status = 1;
    try
    {
        // Every answer waits for a sync of the server's log, so a busy disk sets the ceiling: printed first.
        std::printf("collector on PostgreSQL: fdatasync of the disk: %.2f ms (median)\n",
                    zncip::bench::medianSyncMs(dir, 8192));
        const std::string db = lastLine(script + " start " + dir + "/pg");
        ChildCollector collectors[] = {startCollector(program, db, sync), startCollector(program, db, sync)};
        run({collectors[0].port, collectors[1].port}, 2, 1, clients); // warm up: clients and keys stored
        const long before = static_cast<long>(zncip::collector::openPostgresStore(db)->storedHits());
        FILE* pidFile = std::fopen((dir + "/pg/data/postmaster.pid").c_str(), "r");
        long postmaster = 0;
        if (!pidFile || std::fscanf(pidFile, "%ld", &postmaster) != 1)
            throw std::runtime_error("no postmaster.pid");
        std::fclose(pidFile);
        // Processors used by the collectors and the server, to read the figure against on a shared machine.
        auto used = [&]
        {
            return cpuSeconds(collectors[0].pid) + cpuSeconds(collectors[1].pid) +
                   cpuSeconds(static_cast<pid_t>(postmaster), static_cast<pid_t>(postmaster));
        };
        // Transactions committed in the database, to tell how many hits each of them carried.
        const std::string commits =
            kPgBin + "/psql '" + db +
            "' -Atc 'SELECT xact_commit FROM pg_stat_database WHERE datname = current_database()'";
        const long commitsBefore = std::atol(lastLine(commits).c_str());
        const double cpuBefore = used();
        const auto load = run({collectors[0].port, collectors[1].port}, 8, seconds, clients);
        const double cpu = used() - cpuBefore;
        for (const ChildCollector& c : collectors)
        {
            kill(c.pid, SIGTERM);
            int exit = 0;
            waitpid(c.pid, &exit, 0);
        }
        // The server publishes a session's counts when the session ends; the collectors' have ended.
        sleep(1);
        const long transactions = std::atol(lastLine(commits).c_str()) - commitsBefore;
        const long stored = static_cast<long>(zncip::collector::openPostgresStore(db)->storedHits()) - before;
        const double perSecond = static_cast<double>(load.ok) / load.seconds;
        std::printf(
            "collector on PostgreSQL, 2 collectors x 8 keep-alive connections, %u clients, %.1f s:\n"
            "  %.0f hits/s stored durably (target >= %.0f), %ld answered 2xx, %ld not, %ld stored%s\n"
            "  %ld transactions in the database, %.1f hits each\n"
            "  collectors and server used %.2f processor-s: %.0f us per hit, %.0f hits/s if they had both "
            "processors to themselves\n",
            clients, load.seconds, perSecond, kTargetPerSecond, load.ok, load.failed, stored,
            stored == load.ok ? "" : "  MISMATCH", transactions,
            static_cast<double>(load.ok) / static_cast<double>(std::max(1L, transactions)), cpu,
            1e6 * cpu / static_cast<double>(std::max(1L, load.ok)),
            2.0 * static_cast<double>(load.ok) / std::max(cpu, 1e-9));
        status = perSecond >= kTargetPerSecond && stored == load.ok && load.failed == 0 ? 0 : 1;
    }
    catch (const std::exception& e)
    {
        std::printf("collector on PostgreSQL: %s\n", e.what());
    }
    lastLine(script + " stop " + dir + "/pg >/dev/null; echo");
    std::filesystem::remove_all(dir);
    return status;
}
