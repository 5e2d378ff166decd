#pragma once

// `zncip-collector serve` as a child process of a benchmark, and connections to it.
#include <sys/types.h>

#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

namespace zncip::bench
{

struct ChildCollector
{
    pid_t pid = -1;
    uint16_t port = 0;
};

// Runs `PROGRAM serve ARGS...` and waits for its "listening on" line. Throws std::runtime_error when it
// does not start.
ChildCollector startCollector(const std::string& program, const std::vector<std::string>& args);

// Sends the signal, waits for the end, and returns the processor time the collector used, in seconds:
// on a shared machine a steadier measure of what a hit costs than the rate.
double stopCollector(const ChildCollector& collector, int signal = SIGTERM);

struct Connect
{
    bool noDelay = false;         // TCP_NODELAY; off, as the module's Qt client has it
    const char* source = nullptr; // a loopback address to connect from
    bool blocking = true;         // false: returns while still connecting
    int receiveTimeoutSec = 0;
};

// A TCP connection to 127.0.0.1:port; -1 when it fails.
int connectTo(uint16_t port, const Connect& how = {});

} // namespace zncip::bench
