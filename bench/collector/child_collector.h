#pragma once

// `zncip-collector serve` as a child process of a benchmark, and connections to it.
#include <sys/types.h>

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace zncip::bench
{

struct ChildCollector
{
    pid_t pid = -1;
    uint16_t port = 0;
    uint16_t adminPort = 0; // when ARGS hold --admin-listen
};

// Runs `PROGRAM serve ARGS...` and waits for its "listening on" line (and the admin line after it when
// ARGS hold --admin-listen). Throws std::runtime_error when it does not start.
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

// Length of the first complete answer in buf (0 while it is incomplete); its status goes to status.
size_t completeResponse(const std::string& buf, int& status);

struct LoadResult
{
    double seconds = 0;
    long ok = 0;     // answered 2xx
    long failed = 0; // answered otherwise
    std::vector<double> latenciesMs;

    double percentile(double p); // of the latencies; 0 when there are none
};

// Closed loop: each connection has one request in flight and sends the next when it is answered, until
// the time is up or limit requests were sent. One thread drives them all with epoll, so that the generator
// takes as little of the processors as it can. request(n) makes the n-th request. Throws when no answer
// comes for waitSeconds or a connection closes; closes the connections.
LoadResult closedLoop(const std::vector<int>& connections, double seconds,
                      const std::function<std::string(unsigned)>& request, int waitSeconds,
                      unsigned limit = std::numeric_limits<unsigned>::max());

// The median time of a write of `bytes` and its fdatasync, in a file in dir, over 100 tries; -1 when the
// file cannot be written. Every stored hit waits for such a sync, so the disk sets the ceiling of the
// stored rate: benchmarks print it beside their figures.
double medianSyncMs(const std::string& dir, size_t bytes);

// The last line a shell command prints (tools/pg_cluster.sh prints the server's address last); throws
// when the command fails.
std::string lastLine(const std::string& command);

} // namespace zncip::bench
