// The collector under faults, with numbers:
//  kill     rounds of 8 keep-alive connections posting unique hits while the collector is killed with
//           SIGKILL at a random moment and started again on the same database: every hit answered 2xx
//           must be stored, byte for byte, exactly once.
//  hostile  an honest client's rate alone, then beside 2,000 clients that trickle a header line every
//           5 seconds from 40 loopback addresses, oversized heads and bodies, and a connection flood
//           from one address (2,000 connections a second; the attackers are paced so that on a small
//           machine they do not simply take the processor from the collector); with the collector's
//           memory and threads. Target: at least 0.8x the rate.
//
// usage: zncip-collector-faults [kill|hostile]... [--rounds N] [--seconds S] [--slow N] [--collector PATH]

#include "child_collector.h"
#include "store/hit_store.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace
{

using Clock = std::chrono::steady_clock;

using zncip::bench::ChildCollector;
using zncip::bench::stopCollector;

ChildCollector startCollector(const std::string& program, const std::string& db, uint16_t port)
{
    return zncip::bench::startCollector(program, {"--no-admin", "--port", std::to_string(port), "--db", db});
}

int connectFrom(const char* source, uint16_t port, bool blocking = true)
{
    return zncip::bench::connectTo(port, {true, source, blocking, 5});
}

std::string hitBody(const std::string& label)
{
    return "v=1&tid=UA-582047-16&cid=35009a79-1a05-49d7-b876-2b884d0f825b&t=event&ul=en-us&qt=1"
           "&an=App%20SP2%20x64&av=1.0&ec=Commands&ea=Execute&el=" +
           label + "&ev=1";
}

std::string request(const std::string& body)
{
    return "POST /collect HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// Sends one hit and reads the answer on a keep-alive connection: the status, or 0 when the connection
// failed (then it is closed and fd is -1).
int postHit(int& fd, const std::string& body)
{
    const std::string r = request(body);
    if (send(fd, r.data(), r.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(r.size()))
    {
        close(fd), fd = -1;
        return 0;
    }
    std::string in;
    char buf[4096];
    for (;;)
    {
        const size_t end = in.find("\r\n\r\n");
        if (end != std::string::npos)
        {
            const size_t cl = in.find("Content-Length:");
            const size_t length = cl < end ? std::strtoul(in.c_str() + cl + 15, nullptr, 10) : 0;
            if (in.size() >= end + 4 + length)
            {
                const int status = std::atoi(in.c_str() + 9);
                if (in.find("Connection: close") < end)
                    close(fd), fd = -1;
                return status;
            }
        }
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
        {
            close(fd), fd = -1;
            return 0;
        }
        in.append(buf, static_cast<size_t>(n));
    }
}

void raiseDescriptorLimit()
{
    rlimit l{};
    getrlimit(RLIMIT_NOFILE, &l);
    l.rlim_cur = l.rlim_max;
    setrlimit(RLIMIT_NOFILE, &l);
}

std::string procStatus(pid_t pid, const char* field)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(field, 0) == 0)
        {
            line.erase(0, std::strlen(field));
            line.erase(0, line.find_first_not_of(" \t"));
            return line;
        }
    return "?";
}

bool killRounds(const std::string& program, const std::string& work, int rounds)
{
    const std::string db = work + "/kill.db";
    ChildCollector c = startCollector(program, db, 0);
    const uint16_t port = c.port;
    std::atomic<bool> running{true};
    std::mutex mutex;
    std::vector<std::string> answered;
    long unanswered = 0;
    std::vector<std::thread> clients;
    for (int t = 0; t < 8; ++t)
        clients.emplace_back(
            [&, t]
            {
                int fd = -1;
                long n = 0, lost = 0;
                std::vector<std::string> mine;
                while (running)
                {
                    if (fd < 0 && (fd = connectFrom(nullptr, port)) < 0)
                    {
                        std::this_thread::sleep_for(std::chrono::milliseconds(5)); // restarting
                        continue;
                    }
                    // Unique per hit; a hit without an answer is not sent again, so no answer means it may
                    // be stored or not, and an answered one must be stored once.
                    const std::string body = hitBody("K" + std::to_string(t) + "-" + std::to_string(n++));
                    const int status = postHit(fd, body);
                    if (status >= 200 && status < 300)
                        mine.push_back(body);
                    else
                        ++lost;
                }
                if (fd >= 0)
                    close(fd);
                std::lock_guard<std::mutex> lock(mutex);
                answered.insert(answered.end(), mine.begin(), mine.end());
                unanswered += lost;
            });
    std::mt19937 random(std::random_device{}());
    for (int r = 0; r < rounds; ++r)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(300 + random() % 1200));
        stopCollector(c, SIGKILL);
        c = startCollector(program, db, port);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    running = false;
    for (std::thread& t : clients)
        t.join();
    stopCollector(c);

    std::map<std::string, int> stored;
    zncip::collector::StoreOptions readOnly;
    readOnly.readOnly = true;
    zncip::collector::openSqliteStore(db, readOnly)->forEach([&](const zncip::collector::StoredHit& h) { ++stored[h.body]; });
    long lost = 0, doubled = 0, total = 0;
    for (const auto& [body, n] : stored)
        total += n;
    for (const std::string& body : answered)
    {
        const auto it = stored.find(body);
        lost += it == stored.end();
        doubled += it != stored.end() && it->second > 1;
    }
    std::printf("kill -9: %d rounds, 8 keep-alive connections, sync=full\n", rounds);
    std::printf("  answered 2xx %zu, stored %ld (%ld not answered, sent once), answered but lost %ld, "
                "answered and stored twice %ld: %s\n",
                answered.size(), total, unanswered, lost, doubled, lost || doubled ? "FAILED" : "ok");
    return lost == 0 && doubled == 0;
}

// Sequential hits on one keep-alive connection for a while: hits per second.
double honestRate(uint16_t port, double seconds)
{
    int fd = -1;
    long ok = 0, n = 0;
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    const auto start = Clock::now();
    while (Clock::now() < end)
    {
        if (fd < 0 && (fd = connectFrom(nullptr, port)) < 0)
            continue;
        ok += postHit(fd, hitBody("H" + std::to_string(n++))) == 200;
    }
    if (fd >= 0)
        close(fd);
    return static_cast<double>(ok) / std::chrono::duration<double>(Clock::now() - start).count();
}

bool hostile(const std::string& program, const std::string& work, double seconds, int slowClients)
{
    raiseDescriptorLimit();
    const ChildCollector c = startCollector(program, work + "/hostile.db", 0);
    const double idle = honestRate(c.port, seconds);
    const std::string idleMemory = procStatus(c.pid, "VmRSS:"), idleThreads = procStatus(c.pid, "Threads:");

    std::atomic<bool> running{true};
    std::atomic<long> oversizeAnswered{0}, floodRefused{0};
    std::vector<int> slow;
    for (int i = 0; i < slowClients; ++i)
    {
        const std::string source = "127.0.0." + std::to_string(2 + i % 40);
        const int fd = connectFrom(source.c_str(), c.port, false);
        if (fd >= 0)
            slow.push_back(fd);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    for (int fd : slow)
        send(fd, "POST /collect HTTP/1.1\r\n", 24, MSG_NOSIGNAL);
    std::thread trickle(
        [&]
        {
            // One header line every 5 seconds from each: never idle long enough to be timed out.
            while (running)
            {
                for (int fd : slow)
                    send(fd, "X-Slow: 1\r\n", 11, MSG_NOSIGNAL);
                for (int i = 0; i < 50 && running; ++i)
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        });
    std::thread oversize(
        [&]
        {
            const std::string bigHead = "POST /collect HTTP/1.1\r\nX-Big: " + std::string(40000, 'a') + "\r\n\r\n";
            const std::string bigBody = "POST /collect HTTP/1.1\r\nContent-Length: 10000000\r\n\r\n" + std::string(65536, 'b');
            for (long n = 0; running; ++n)
            {
                // Paced, here and in the flood: on a machine of two cores an unpaced attacker in this process
                // would measure how it starves the collector of processor time, not how the collector copes.
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                const int fd = connectFrom("127.0.0.150", c.port);
                if (fd < 0)
                    continue;
                const std::string& r = n % 2 ? bigHead : bigBody;
                send(fd, r.data(), r.size(), MSG_NOSIGNAL);
                char buf[512];
                if (recv(fd, buf, sizeof buf, 0) > 0)
                    ++oversizeAnswered;
                close(fd);
            }
        });
    std::thread flood(
        [&]
        {
            std::vector<int> open;
            while (running)
            {
                std::this_thread::sleep_for(std::chrono::microseconds(500));
                const int fd = connectFrom("127.0.0.200", c.port, false);
                if (fd >= 0)
                    open.push_back(fd);
                if (open.size() >= 500)
                {
                    for (int f : open)
                    {
                        char b;
                        floodRefused += recv(f, &b, 1, MSG_DONTWAIT) == 0;
                        close(f);
                    }
                    open.clear();
                }
            }
            for (int f : open)
                close(f);
        });
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const double underLoad = honestRate(c.port, seconds);
    const std::string memory = procStatus(c.pid, "VmRSS:"), threads = procStatus(c.pid, "Threads:");
    long held = 0;
    for (int fd : slow)
    {
        char b;
        const ssize_t n = recv(fd, &b, 1, MSG_DONTWAIT);
        held += n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
    running = false;
    trickle.join();
    oversize.join();
    flood.join();
    for (int fd : slow)
        close(fd);
    stopCollector(c);

    const double ratio = idle > 0 ? underLoad / idle : 0;
    std::printf("hostile clients: %zu trickling a header line every 5 s from 40 addresses, oversized heads "
                "and bodies, a flood from one address\n", slow.size());
    std::printf("  honest client alone       %8.0f hits/s   collector memory %s, threads %s\n", idle,
                idleMemory.c_str(), idleThreads.c_str());
    std::printf("  honest client under load  %8.0f hits/s   collector memory %s, threads %s\n", underLoad,
                memory.c_str(), threads.c_str());
    std::printf("  slow connections still held %ld; oversized requests answered %ld; flood connections "
                "refused %ld\n", held, oversizeAnswered.load(), floodRefused.load());
    std::printf("  ratio %.2f (target >= 0.80): %s\n", ratio, ratio >= 0.8 ? "met" : "MISSED");
    return ratio >= 0.8;
}

} // namespace

int main(int argc, char** argv)
{
    std::string self = argv[0];
    std::string program = self.substr(0, self.rfind('/') + 1) + "zncip-collector";
    int rounds = 5, slowClients = 2000;
    double seconds = 5;
    std::vector<std::string> what;
    for (int i = 1; i < argc; ++i)
    {
        const std::string a = argv[i];
        if (a == "--rounds" && i + 1 < argc)
            rounds = std::atoi(argv[++i]);
        else if (a == "--seconds" && i + 1 < argc)
            seconds = std::atof(argv[++i]);
        else if (a == "--slow" && i + 1 < argc)
            slowClients = std::atoi(argv[++i]);
        else if (a == "--collector" && i + 1 < argc)
            program = argv[++i];
        else
            what.push_back(a);
    }
    if (what.empty())
        what = {"kill", "hostile"};
    char tmpl[] = "/tmp/zncip-collector-faults.XXXXXX";
    if (!mkdtemp(tmpl))
        return 1;
    signal(SIGPIPE, SIG_IGN);
    bool ok = true;
    try
    {
        for (const std::string& w : what)
            ok &= w == "kill" ? killRounds(program, tmpl, rounds) : hostile(program, tmpl, seconds, slowClients);
    }
    catch (const std::exception& e)
    {
        std::fprintf(stderr, "zncip-collector-faults: %s\n", e.what());
        ok = false;
    }
    std::system(("rm -rf " + std::string(tmpl)).c_str());
    return ok ? 0 : 1;
}
