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

// A listening TCP socket on a numeric IPv4 or IPv6 address ("localhost" and "[::1]" too). Throws
// StartError with a message fit for the user: a bad address, a port in use, an address not of this
// machine.
ListenSocket openListenSocket(const std::string& listenAddress, uint16_t port);

} // namespace zncip::collector
