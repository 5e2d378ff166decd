#include "faultproxy.h"

#include "collector_fixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

namespace
{
constexpr auto kSlowAnswer = std::chrono::seconds(10);

// Reads one message (head and a Content-Length body) from a connection; empty when it closes first.
std::string readMessage(int fd, std::string& pending)
{
    char chunk[8192];
    for (;;)
    {
        const size_t end = pending.find("\r\n\r\n");
        if (end != std::string::npos)
        {
            size_t length = 0;
            const size_t at = pending.find("Content-Length: ");
            if (at != std::string::npos && at < end)
                length = std::strtoul(pending.c_str() + at + 16, nullptr, 10);
            if (pending.size() >= end + 4 + length)
            {
                std::string message = pending.substr(0, end + 4 + length);
                pending.erase(0, end + 4 + length);
                return message;
            }
        }
        const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0)
            return {};
        pending.append(chunk, static_cast<size_t>(n));
    }
}
} // namespace

FaultProxy::FaultProxy(uint16_t collectorPort, std::vector<Fault> plan)
    : m_collectorPort(collectorPort), m_plan(std::move(plan)),
      m_listen(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(m_listen, 16);
    getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &length);
    m_port = ntohs(a.sin_port);
    m_acceptor = std::thread([this] { acceptLoop(); });
}

FaultProxy::~FaultProxy()
{
    m_stopping = true;
    shutdown(m_listen, SHUT_RDWR);
    m_acceptor.join();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (int fd : m_clients)
            shutdown(fd, SHUT_RDWR);
    }
    for (std::thread& t : m_threads)
        t.join();
    close(m_listen);
}

void FaultProxy::beforeRequest(size_t index, std::function<void()> hook)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_hooks[index] = std::move(hook);
}

QStringList FaultProxy::log()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_log;
}

void FaultProxy::acceptLoop()
{
    for (;;)
    {
        const int client = accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0 || m_stopping)
        {
            if (client >= 0)
                close(client);
            return;
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_clients.push_back(client);
        m_threads.emplace_back([this, client] { serve(client); });
    }
}

void FaultProxy::serve(int client)
{
    std::string pending;
    for (;;)
    {
        const std::string request = readMessage(client, pending);
        if (request.empty())
            break;
        Fault fault;
        std::function<void()> hook;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            const size_t index = m_requests++;
            fault = index < m_plan.size() ? m_plan[index] : Fault::Pass;
            if (const auto it = m_hooks.find(index); it != m_hooks.end())
                hook = it->second;
        }
        if (hook)
            hook();
        const auto record = [&](int status)
        {
            const char* names[] = {"pass", "reset", "500", "slow"};
            std::lock_guard<std::mutex> lock(m_mutex);
            m_log << QStringLiteral("%1 %2 %3")
                         .arg(QLatin1String(names[static_cast<int>(fault)]))
                         .arg(status)
                         .arg(QString::fromStdString(request.substr(request.find("\r\n\r\n") + 4)));
        };
        if (fault == Fault::Reset)
        {
            record(0);
            const linger abort{1, 0};
            setsockopt(client, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
            break;
        }
        if (fault == Fault::Error500)
        {
            record(500);
            const char error[] =
                "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
            send(client, error, sizeof error - 1, MSG_NOSIGNAL);
            break;
        }
        const std::string answer = forward(request);
        record(answer.size() > 12 ? std::atoi(answer.c_str() + 9) : 0);
        if (fault == Fault::Slow)
            for (auto until = std::chrono::steady_clock::now() + kSlowAnswer;
                 !m_stopping && std::chrono::steady_clock::now() < until;)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
        send(client, answer.data(), answer.size(), MSG_NOSIGNAL);
        if (answer.empty() || answer.find("Connection: close") != std::string::npos ||
            request.find("Connection: close") != std::string::npos)
            break;
    }
    close(client);
}

// The request on a connection of its own to the collector; its whole answer, or empty.
std::string FaultProxy::forward(const std::string& request)
{
    zncip::collector::test::HttpConnection collector(m_collectorPort);
    collector.sendRaw(request);
    const zncip::collector::test::HttpResponse answer = collector.read();
    return answer.status ? answer.head + "\r\n" + answer.body : std::string();
}
