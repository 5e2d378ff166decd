#include "testhttpserver.h"

#include <QList>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace
{
bool sendAll(int fd, const QByteArray& data)
{
    const char* p = data.constData();
    qint64 left = data.size();
    while (left > 0)
    {
        const ssize_t n = ::send(fd, p, static_cast<size_t>(left), MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        p += n;
        left -= n;
    }
    return true;
}
} // namespace

QByteArray TestHttpServer::Request::header(const QByteArray& name) const
{
    const auto it = headers.find(name.toLower());
    return it == headers.end() ? QByteArray() : it->second;
}

TestHttpServer::TestHttpServer() = default;

TestHttpServer::~TestHttpServer()
{
    close();
}

bool TestHttpServer::listen()
{
    m_listenFd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (m_listenFd < 0)
        return false;
    const int yes = 1;
    ::setsockopt(m_listenFd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (::bind(m_listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_listenFd, 16) != 0 ||
        ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    {
        ::close(m_listenFd);
        m_listenFd = -1;
        return false;
    }
    m_port = ntohs(address.sin_port);
    m_acceptor = std::thread([this] { acceptLoop(); });
    return true;
}

void TestHttpServer::close()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping || m_listenFd < 0)
            return;
        m_stopping = true;
        ::shutdown(m_listenFd, SHUT_RDWR);
        for (const auto& connection : m_connections)
        {
            if (connection->fd >= 0)
                ::shutdown(connection->fd, SHUT_RDWR);
        }
    }
    m_released.notify_all();
    if (m_acceptor.joinable())
        m_acceptor.join();
    ::close(m_listenFd);
    // No new connection can appear once the acceptor has ended.
    for (const auto& connection : m_connections)
        connection->thread.join();
}

QString TestHttpServer::endpoint() const
{
    return QStringLiteral("127.0.0.1:%1").arg(m_port);
}

void TestHttpServer::queueStatuses(std::initializer_list<int> statuses)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_statuses.insert(m_statuses.end(), statuses.begin(), statuses.end());
}

void TestHttpServer::setDefaultStatus(int status)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_defaultStatus = status;
}

void TestHttpServer::setSilent(bool on)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_silent = on;
}

void TestHttpServer::hold()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_held = true;
}

void TestHttpServer::release()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_held = false;
    }
    m_released.notify_all();
}

std::vector<TestHttpServer::Request> TestHttpServer::requests() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

int TestHttpServer::requestCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<int>(m_requests.size());
}

int TestHttpServer::connectionCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<int>(m_connections.size());
}

int TestHttpServer::closedCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_closed;
}

void TestHttpServer::acceptLoop()
{
    for (;;)
    {
        const int fd = ::accept(m_listenFd, nullptr, nullptr);
        std::lock_guard<std::mutex> lock(m_mutex);
        if (fd < 0 || m_stopping)
        {
            if (fd >= 0)
                ::close(fd);
            return;
        }
        auto connection = std::make_unique<Connection>();
        connection->fd = fd;
        const int id = static_cast<int>(m_connections.size()) + 1;
        connection->thread = std::thread([this, fd, id] { serve(fd, id); });
        m_connections.push_back(std::move(connection));
    }
}

void TestHttpServer::serve(int fd, int id)
{
    QByteArray buffer;
    char chunk[4096];
    bool open = true;
    while (open)
    {
        // One request: the head up to the blank line, then Content-Length bytes of body.
        int headEnd = buffer.indexOf("\r\n\r\n");
        while (headEnd < 0)
        {
            const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0)
            {
                open = false;
                break;
            }
            buffer.append(chunk, static_cast<int>(n));
            headEnd = buffer.indexOf("\r\n\r\n");
        }
        if (!open)
            break;

        Request request;
        request.connection = id;
        request.head = buffer.left(headEnd + 4);
        const QList<QByteArray> lines = buffer.left(headEnd).split('\n');
        const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
        request.method = requestLine.value(0);
        request.path = requestLine.value(1);
        for (int i = 1; i < lines.size(); ++i)
        {
            const int colon = lines[i].indexOf(':');
            if (colon > 0)
                request.headers[lines[i].left(colon).trimmed().toLower()] = lines[i].mid(colon + 1).trimmed();
        }
        const int length = request.header("Content-Length").toInt();
        buffer.remove(0, headEnd + 4);
        while (buffer.size() < length)
        {
            const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0)
            {
                open = false;
                break;
            }
            buffer.append(chunk, static_cast<int>(n));
        }
        if (!open)
            break;
        request.body = buffer.left(length);
        buffer.remove(0, length);

        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_requests.push_back(request);
        }
        open = answer(fd, request);
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_closed;
    // Marked under the lock, so close() never shuts down a descriptor number that is reused meanwhile.
    m_connections[static_cast<size_t>(id - 1)]->fd = -1;
    ::close(fd);
}

bool TestHttpServer::answer(int fd, const Request& request)
{
    int status = 0;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_released.wait(lock, [this] { return !m_held || m_stopping; });
        if (m_silent)
        {
            // Keep reading so that a client giving up is noticed, but never say a word.
            lock.unlock();
            char sink[256];
            while (::recv(fd, sink, sizeof sink, 0) > 0)
            {
            }
            return false;
        }
        if (m_stopping)
            return false;
        if (!m_statuses.empty())
        {
            status = m_statuses.front();
            m_statuses.pop_front();
        }
        else
        {
            status = m_defaultStatus;
        }
    }
    const bool close = request.header("Connection").toLower() == "close";
    // Clients go by the code alone; the reason phrase is only for people reading a trace.
    QByteArray response = "HTTP/1.1 " + QByteArray::number(status) + " Test\r\n";
    if (status != 204)
        response += "Content-Length: 0\r\n";
    if (close)
        response += "Connection: close\r\n";
    response += "\r\n";
    return sendAll(fd, response) && !close;
}
