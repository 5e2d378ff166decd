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

// A small HTTP/1.1 server on 127.0.0.1 on threads of its own. It keeps every request as it arrived and
// answers with the queued statuses (then 204), holds its answers until released, or never answers.
class TestHttpServer
{
public:
    struct Request
    {
        int connection = 0; // counted from 1 in order of acceptance
        QByteArray method, path, body;
        std::map<QByteArray, QByteArray> headers; // names in lower case
        QByteArray header(const QByteArray& name) const;
    };

    ~TestHttpServer() { close(); }
    bool listen();
    // Drops every connection; later connections to the port are refused.
    void close();
    QString endpoint() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }

    void queueStatuses(std::initializer_list<int> statuses);
    void setSilent(bool on);
    void hold();
    void release();

    std::vector<Request> requests() const;
    int requestCount() const;
    int closedCount() const; // connections the client closed or dropped

private:
    void acceptLoop();
    void serve(int fd, int id);
    bool answer(int fd, const Request& request);

    mutable std::mutex m_mutex;
    std::condition_variable m_released;
    int m_listenFd = -1;
    quint16 m_port = 0;
    bool m_stopping = false, m_silent = false, m_held = false;
    std::deque<int> m_statuses;
    std::vector<Request> m_requests;
    std::vector<int> m_fds; // per connection; -1 once closed
    std::vector<std::thread> m_threads;
    int m_closed = 0;
    std::thread m_acceptor;
};
