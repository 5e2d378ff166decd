#include "child_collector.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
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
    std::string line;
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n')
        line += c;
    close(out[0]);
    const size_t colon = line.rfind(':');
    if (line.rfind("listening on ", 0) != 0 || colon == std::string::npos)
        throw std::runtime_error("collector did not start: '" + line + "'");
    return {pid, static_cast<uint16_t>(std::atoi(line.c_str() + colon + 1))};
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

} // namespace zncip::bench
