#include "child_collector.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>
#include <sys/epoll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace zncip::bench
{

ChildCollector startCollector(const std::string& program, const std::vector<std::string>& args)
{
    int out[2];
    if (pipe(out) != 0)
        throw std::runtime_error("pipe failed");
    const pid_t pid = fork();
    if (pid == 0)
    {
        dup2(out[1], 1);
        close(out[0]);
        close(out[1]);
        std::vector<std::string> all = {program, "serve"};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(out[1]);
    auto readLine = [&]
    {
        std::string line;
        char c;
        while (read(out[0], &c, 1) == 1 && c != '\n')
            line += c;
        return line;
    };
    const std::string line = readLine();
    const size_t colon = line.rfind(':');
    if (line.rfind("listening on ", 0) != 0 || colon == std::string::npos)
    {
        close(out[0]);
        throw std::runtime_error("collector did not start: '" + line + "'");
    }
    ChildCollector child{pid, static_cast<uint16_t>(std::atoi(line.c_str() + colon + 1))};
    if (std::find(args.begin(), args.end(), "--admin-listen") != args.end())
    {
        // "admin pages on http://ADDRESS:PORT/"
        const std::string admin = readLine();
        const size_t port = admin.rfind(':');
        if (admin.rfind("admin pages on ", 0) != 0 || port == std::string::npos)
        {
            close(out[0]);
            throw std::runtime_error("collector's admin listener did not start: '" + admin + "'");
        }
        child.adminPort = static_cast<uint16_t>(std::atoi(admin.c_str() + port + 1));
    }
    close(out[0]);
    return child;
}

double stopCollector(const ChildCollector& collector, int signal)
{
    kill(collector.pid, signal);
    int status = 0;
    rusage usage{};
    wait4(collector.pid, &status, 0, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

int connectTo(uint16_t port, const Connect& how)
{
    const int fd = socket(AF_INET, SOCK_STREAM | (how.blocking ? 0 : SOCK_NONBLOCK), 0);
    if (fd < 0)
        return -1;
    if (how.source)
    {
        sockaddr_in from{};
        from.sin_family = AF_INET;
        inet_pton(AF_INET, how.source, &from.sin_addr);
        bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from);
    }
    const int one = 1;
    if (how.noDelay)
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (how.receiveTimeoutSec)
    {
        const timeval timeout{how.receiveTimeoutSec, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 && (how.blocking || errno != EINPROGRESS))
    {
        close(fd);
        return -1;
    }
    return fd;
}

size_t completeResponse(const std::string& buf, int& status)
{
    const size_t end = buf.find("\r\n\r\n");
    if (end == std::string::npos)
        return 0;
    status = std::atoi(buf.c_str() + 9);
    size_t length = 0;
    const size_t cl = buf.find("Content-Length:");
    if (cl != std::string::npos && cl < end)
        length = std::strtoul(buf.c_str() + cl + 15, nullptr, 10);
    return buf.size() >= end + 4 + length ? end + 4 + length : 0;
}

double LoadResult::percentile(double p)
{
    if (latenciesMs.empty())
        return 0;
    std::sort(latenciesMs.begin(), latenciesMs.end());
    return latenciesMs[std::min(latenciesMs.size() - 1, static_cast<size_t>(p * latenciesMs.size()))];
}

LoadResult closedLoop(const std::vector<int>& connections, double seconds,
                      const std::function<std::string(unsigned)>& request, int waitSeconds, unsigned limit)
{
    using Clock = std::chrono::steady_clock;
    struct Conn
    {
        int fd;
        std::string in;
        Clock::time_point sent;
    };
    std::vector<Conn> conns;
    const int ep = epoll_create1(0);
    for (const int fd : connections)
    {
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u32 = static_cast<uint32_t>(conns.size());
        epoll_ctl(ep, EPOLL_CTL_ADD, fd, &ev);
        conns.push_back({fd, {}, {}});
    }
    unsigned counter = 0;
    auto send = [&](Conn& c)
    {
        const std::string bytes = request(counter++);
        c.sent = Clock::now();
        if (::send(c.fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size()))
            throw std::runtime_error("short send");
    };
    LoadResult r;
    const auto start = Clock::now();
    const auto stop =
        start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    size_t inFlight = 0;
    for (Conn& c : conns)
    {
        if (counter == limit)
            break;
        send(c);
        ++inFlight;
    }
    char buf[65536];
    epoll_event events[64];
    while (inFlight > 0)
    {
        const int n = epoll_wait(ep, events, 64, waitSeconds * 1000);
        if (n <= 0)
            throw std::runtime_error("no answer for " + std::to_string(waitSeconds) + " s");
        for (int e = 0; e < n; ++e)
        {
            Conn& c = conns[events[e].data.u32];
            const ssize_t got = recv(c.fd, buf, sizeof buf, 0);
            if (got <= 0)
                throw std::runtime_error("connection closed by a collector");
            c.in.append(buf, static_cast<size_t>(got));
            int status = 0;
            while (size_t len = completeResponse(c.in, status))
            {
                const auto now = Clock::now();
                r.latenciesMs.push_back(std::chrono::duration<double, std::milli>(now - c.sent).count());
                (status >= 200 && status < 300 ? r.ok : r.failed)++;
                c.in.erase(0, len);
                if (now < stop && counter < limit)
                    send(c);
                else
                    --inFlight;
            }
        }
    }
    r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    for (Conn& c : conns)
        close(c.fd);
    close(ep);
    return r;
}

double medianSyncMs(const std::string& dir, size_t bytes)
{
    const std::string path = dir + "/sync-probe";
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0)
        return -1;
    std::vector<double> ms;
    const std::string page(bytes, 'x');
    for (int i = 0; i < 100; ++i)
    {
        const auto start = std::chrono::steady_clock::now();
        if (write(fd, page.data(), page.size()) < 0 || fdatasync(fd) != 0)
            break;
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    close(fd);
    unlink(path.c_str());
    if (ms.empty())
        return -1;
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

std::string lastLine(const std::string& command)
{
    FILE* out = popen(command.c_str(), "r");
    std::string line;
    char buffer[1024];
    while (out && std::fgets(buffer, sizeof buffer, out))
        line = buffer;
    if (!out || pclose(out) != 0)
        throw std::runtime_error(command + " failed");
    return line.substr(0, line.find('\n'));
}

} // namespace zncip::bench
