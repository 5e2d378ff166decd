// The listening sockets of both listeners, and what each connection on them is set up with.
#include "http/listen_socket.h"

#include "http/start_error.h"

#include <arpa/inet.h>
#include <linux/tcp.h> // tcpi_data_segs_in, which glibc's tcp_info lacks
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>

namespace zncip::collector
{

ListenSocket openListenSocket(const std::string& listenAddress, uint16_t port)
{
    std::string host = listenAddress == "localhost" ? "127.0.0.1" : listenAddress;
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    sockaddr_storage address{};
    socklen_t length;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
    if (inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1)
    {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        length = sizeof *v4;
    }
    else if (inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1)
    {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        length = sizeof *v6;
    }
    else
        throw StartError("bad listen address '" + listenAddress + "': give a numeric IPv4 or IPv6 address");

    const int fd = socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw StartError(std::string("cannot create a socket: ") + std::strerror(errno));
    const int one = 1;
    // Lets a restarted collector bind while connections of the previous one linger in TIME_WAIT;
    // on Linux it does not let two servers share the port.
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (address.ss_family == AF_INET6)
        setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
    // Answers leave at once, without Nagle's wait. Accepted connections inherit it, so it costs no call
    // per connection or request.
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0)
    {
        const int error = errno;
        close(fd);
        const std::string where = host + " port " + std::to_string(port);
        if (error == EADDRINUSE)
            throw StartError("cannot listen on " + where + ": the port is already in use");
        if (error == EADDRNOTAVAIL)
            throw StartError("cannot listen on " + where + ": the address is not one of this machine");
        throw StartError("cannot listen on " + where + ": " + std::strerror(error));
    }
    if (listen(fd, 1024) != 0)
    {
        const int error = errno;
        close(fd);
        throw StartError(std::string("cannot listen: ") + std::strerror(error));
    }
    ListenSocket result;
    result.fd = fd;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET)
    {
        inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
        result.address = text;
        result.port = ntohs(v4->sin_port);
    }
    else
    {
        inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
        result.address = std::string("[") + text + "]";
        result.port = ntohs(v6->sin6_port);
    }
    return result;
}

void acknowledgeAtOnce(int fd)
{
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
}

bool arrivedInOneSegment(int fd)
{
    tcp_info info{};
    socklen_t length = sizeof info;
    return getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) == 0 &&
           length >= offsetof(tcp_info, tcpi_data_segs_in) + sizeof info.tcpi_data_segs_in &&
           info.tcpi_data_segs_in == 1;
}

void raiseDescriptorLimit(unsigned connections)
{
    rlimit limit{};
    const rlim_t wanted = connections + 64;
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= wanted)
        return;
    limit.rlim_cur = std::min(wanted, limit.rlim_max);
    setrlimit(RLIMIT_NOFILE, &limit);
    if (limit.rlim_cur < wanted)
        std::fprintf(stderr,
                     "zncip-collector: at most %llu descriptors are allowed; fewer than the %u connections "
                     "asked for can be served\n",
                     static_cast<unsigned long long>(limit.rlim_cur), connections);
}

} // namespace zncip::collector
