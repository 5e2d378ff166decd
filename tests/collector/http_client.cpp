#include "http_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

namespace zncip::collector::test
{

HttpConnection::HttpConnection(uint16_t port)
    : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)), port_(port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
    {
        close(fd_);
        throw std::runtime_error("cannot connect to port " + std::to_string(port));
    }
}

HttpConnection::~HttpConnection()
{
    close(fd_);
}

void HttpConnection::sendRaw(const std::string& bytes)
{
    // A failure is not reported here: the server may legitimately have closed, and read() tells.
    for (ssize_t n, done = 0; done < static_cast<ssize_t>(bytes.size()); done += n)
        if ((n = send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL)) <= 0)
            return;
}

void HttpConnection::closeWrite()
{
    shutdown(fd_, SHUT_WR);
}

// Each wait for data is bounded by timeoutMs.
static void setTimeout(int fd, int timeoutMs)
{
    const timeval tv{timeoutMs / 1000, timeoutMs % 1000 * 1000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
}

HttpResponse HttpConnection::read(int timeoutMs)
{
    setTimeout(fd_, timeoutMs);
    for (;;)
    {
        const size_t end = buffer_.find("\r\n\r\n");
        if (end != std::string::npos)
        {
            HttpResponse r;
            r.status = std::atoi(buffer_.c_str() + buffer_.find(' ') + 1);
            for (size_t at = buffer_.find("\r\n"); at < end; at = buffer_.find("\r\n", at + 2))
            {
                const std::string line = buffer_.substr(at + 2, buffer_.find("\r\n", at + 2) - at - 2);
                std::string name = line.substr(0, line.find(':'));
                std::transform(name.begin(), name.end(), name.begin(), ::tolower);
                if (name.size() < line.size())
                    r.headers[name] = line.substr(line.find_first_not_of(' ', name.size() + 1));
            }
            const size_t length = std::stoul("0" + r.header("content-length"));
            if (buffer_.size() >= end + 4 + length)
            {
                r.body = buffer_.substr(end + 4, length);
                buffer_.erase(0, end + 4 + length);
                return r;
            }
        }
        char chunk[16384];
        const ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
        if (n <= 0)
            return {};
        buffer_.append(chunk, static_cast<size_t>(n));
    }
}

bool HttpConnection::closedByServer(int timeoutMs)
{
    setTimeout(fd_, timeoutMs);
    char c;
    const ssize_t n = recv(fd_, &c, 1, MSG_PEEK);
    return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
}

std::string requestHead(const std::string& method, const std::string& path, uint16_t port, size_t bodyLength,
                        const std::string& extraHeaders)
{
    return method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
           "\r\nContent-Type: application/x-www-form-urlencoded\r\n"
           "User-Agent: App SP2 x64/1.0 (WIN; en_US) Ostrevan/1.0 (Qt/5.12.3)\r\n" +
           extraHeaders + "Content-Length: " + std::to_string(bodyLength) + "\r\n\r\n";
}

HttpResponse HttpConnection::post(const std::string& path, const std::string& body,
                                  const std::string& extraHeaders)
{
    sendRaw(requestHead("POST", path, port_, body.size(), extraHeaders) + body);
    return read();
}

HttpResponse post(uint16_t port, const std::string& path, const std::string& body)
{
    HttpConnection c(port);
    return c.post(path, body);
}

} // namespace zncip::collector::test
