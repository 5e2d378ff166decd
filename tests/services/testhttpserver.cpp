#include "testhttpserver.h"

#include <QList>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{
// Reads more into buffer; false when the peer closed or the socket failed.
bool readMore(int fd, QByteArray& buffer)
{
    char chunk[4096];
    const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n > 0)
        buffer.append(chunk, static_cast<int>(n));
    return n > 0;
}
} // namespace

QByteArray TestHttpServer::Request::header(const QByteArray& name) const
{
    const auto it = headers.find(name.toLower());
    return it == headers.end() ? QByteArray() : it->second;
}

bool TestHttpServer::listen()
{
    m_listenFd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_listenFd < 0 || ::bind(m_listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_listenFd, 16) != 0 ||
        ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    {
        if (m_listenFd >= 0)
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
        for (int fd : m_fds)
            if (fd >= 0)
                ::shutdown(fd, SHUT_RDWR);
    }
    m_released.notify_all();
    m_acceptor.join();
    ::close(m_listenFd);
    // No new connection can appear once the acceptor has ended.
    for (std::thread& t : m_threads)
        t.join();
}

void TestHttpServer::queueStatuses(std::initializer_list<int> statuses)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_statuses.insert(m_statuses.end(), statuses.begin(), statuses.end());
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
        m_fds.push_back(fd);
        const int id = static_cast<int>(m_fds.size());
        m_threads.emplace_back([this, fd, id] { serve(fd, id); });
    }
}

void TestHttpServer::serve(int fd, int id)
{
    QByteArray buffer;
    for (bool open = true; open;)
    {
        // One request: the head up to the blank line, then Content-Length bytes of body.
        int headEnd;
        while ((headEnd = buffer.indexOf("\r\n\r\n")) < 0 && (open = readMore(fd, buffer)))
        {
        }
        if (!open)
            break;
        Request request;
        request.connection = id;
        const QList<QByteArray> lines = buffer.left(headEnd).split('\n');
        const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
        request.method = requestLine.value(0);
        request.path = requestLine.value(1);
        for (const QByteArray& line : lines.mid(1))
            if (line.indexOf(':') > 0)
                request.headers[line.left(line.indexOf(':')).trimmed().toLower()] =
                    line.mid(line.indexOf(':') + 1).trimmed();
        const int length = request.header("Content-Length").toInt();
        buffer.remove(0, headEnd + 4);
        while (buffer.size() < length && (open = readMore(fd, buffer)))
        {
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
    m_fds[static_cast<size_t>(id - 1)] = -1;
    ::close(fd);
}

bool TestHttpServer::answer(int fd, const Request& request)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_released.wait(lock, [this] { return !m_held || m_stopping; });
    if (m_silent)
    {
        // Keep reading so that a client giving up is noticed, but never say a word.
        lock.unlock();
        QByteArray sink;
        while (readMore(fd, sink))
            sink.clear();
        return false;
    }
    if (m_stopping)
        return false;
    const int status = m_statuses.empty() ? 204 : m_statuses.front();
    if (!m_statuses.empty())
        m_statuses.pop_front();
    lock.unlock();
    const bool close = request.header("Connection").toLower() == "close";
    QByteArray response = "HTTP/1.1 " + QByteArray::number(status) + " Test\r\n";
    if (status != 204)
        response += "Content-Length: 0\r\n";
    if (close)
        response += "Connection: close\r\n";
    response += "\r\n";
    // Responses are a few bytes: one send carries them whole.
    return ::send(fd, response.constData(), static_cast<size_t>(response.size()), MSG_NOSIGNAL) ==
               response.size() &&
           !close;
}
