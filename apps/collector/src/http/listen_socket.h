// The listening sockets of both listeners, and what each connection on them is set up with.
#pragma once

#include <cstdint>
#include <string>

namespace zncip::collector
{

struct ListenSocket
{
    int fd = -1;
    std::string address; // as printed: 127.0.0.1 or [::1]
    uint16_t port = 0;   // the one bound, also when 0 was asked for
};

// A listening TCP socket on a numeric IPv4 or IPv6 address ("localhost" and "[::1]" too), whose
// connections send without Nagle's delay. Throws StartError with a message fit for the user: a bad
// address, a port in use, an address not of this machine.
ListenSocket openListenSocket(const std::string& listenAddress, uint16_t port);

// Acknowledges what arrived at once: a client that writes head and body separately without TCP_NODELAY
// (Qt does) otherwise waits for our delayed ACK, about 40 ms per request. The kernel drops out of quick-ACK
// mode on its own: call it for every request.
void acknowledgeAtOnce(int fd);

// Whether everything the connection received so far came in one segment: true only when the kernel says
// so.
bool arrivedInOneSegment(int fd);

// Every connection needs a descriptor: the soft limit (often 1024) is raised towards connections as far as
// the hard limit allows, with a warning when that is not far enough.
void raiseDescriptorLimit(unsigned connections);

} // namespace zncip::collector
