#pragma once

// Stands between the module and the collector and misbehaves as told, request by request: refuses
// (resets the connection), answers 500, or passes the request on and holds the answer back. Every
// request it passes on reaches the collector; the log says what each one was given.
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class FaultProxy
{
public:
    enum class Fault
    {
        Pass,
        Reset,    // the connection is cut, nothing reaches the collector
        Error500, // answered by the proxy, nothing reaches the collector
        Slow,     // reaches the collector at once; its answer comes back 10 s later
    };

    // Faults for the requests in the order they arrive; those after the last pass.
    FaultProxy(uint16_t collectorPort, std::vector<Fault> plan);
    ~FaultProxy();
    uint16_t port() const { return m_port; }
    // Runs on the proxy's thread before the request of that index (from 0) is handled.
    void beforeRequest(size_t index, std::function<void()> hook);
    // One line per request: "FAULT STATUS body", the status being what the module was answered (0: none).
    QStringList log();

private:
    void acceptLoop();
    void serve(int client);
    std::string forward(const std::string& request);

    uint16_t m_collectorPort;
    std::vector<Fault> m_plan;
    std::map<size_t, std::function<void()>> m_hooks;
    int m_listen = -1;
    uint16_t m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::mutex m_mutex;
    size_t m_requests = 0;
    QStringList m_log;
    std::vector<int> m_clients;
    std::vector<std::thread> m_threads;
    std::thread m_acceptor;
};
