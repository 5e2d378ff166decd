#pragma once

#include <QByteArray>
#include <QString>

#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// A small HTTP/1.1 server on 127.0.0.1 and an ephemeral port, on threads of its own, for transport
// tests. It keeps every request exactly as it arrived and answers with the statuses it is given, or
// holds its answers back, or never answers; closing it makes the port refuse connections.
class TestHttpServer
{
public:
    struct Request
    {
        int connection = 0; // which connection it came on, counted from 1 in order of acceptance
        QByteArray method;
        QByteArray path;
        QByteArray head; // request line and headers, as received
        QByteArray body;
        std::map<QByteArray, QByteArray> headers; // names in lower case

        QByteArray header(const QByteArray& name) const;
    };

    TestHttpServer();
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    // Starts listening; false when no socket could be set up.
    bool listen();
    // Stops listening and drops every connection: later connections to the port are refused.
    void close();
    quint16 port() const { return m_port; }
    // "127.0.0.1:port", as the host's resources take it.
    QString endpoint() const;

    // Statuses for the next requests, in order; once they are used up, defaultStatus answers.
    void queueStatuses(std::initializer_list<int> statuses);
    void setDefaultStatus(int status);
    // Silent: requests are read and kept but never answered.
    void setSilent(bool on);
    // Held: answers wait until release() lets them all go.
    void hold();
    void release();

    std::vector<Request> requests() const;
    int requestCount() const;
    int connectionCount() const;
    // Connections that the client closed or dropped.
    int closedCount() const;

private:
    struct Connection
    {
        int fd = -1;
        std::thread thread;
    };

    void acceptLoop();
    void serve(int fd, int id);
    bool answer(int fd, const Request& request);

    mutable std::mutex m_mutex;
    std::condition_variable m_released;
    int m_listenFd = -1;
    quint16 m_port = 0;
    bool m_stopping = false;
    bool m_silent = false;
    bool m_held = false;
    int m_defaultStatus = 204;
    std::deque<int> m_statuses;
    std::vector<Request> m_requests;
    std::vector<std::unique_ptr<Connection>> m_connections;
    int m_closed = 0;
    std::thread m_acceptor;
};
