#include "http_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <stdexcept>

namespace zncip::collector::test
{

HttpConnection::HttpConnection(uint16_t port) : port_(port)
{
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
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
    size_t done = 0;
    while (done < bytes.size())
    {
        const ssize_t n = send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return; // the server may legitimately have closed; read() reports it
        done += static_cast<size_t>(n);
    }
}

HttpResponse HttpConnection::read(int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;)
    {
        const size_t end = buffer_.find("\r\n\r\n");
        if (end != std::string::npos)
        {
            HttpResponse r;
            size_t lineEnd = buffer_.find("\r\n");
            r.status = std::atoi(buffer_.c_str() + buffer_.find(' ') + 1);
            while (lineEnd < end)
            {
                const size_t next = buffer_.find("\r\n", lineEnd + 2);
                const std::string line = buffer_.substr(lineEnd + 2, next - lineEnd - 2);
                const size_t colon = line.find(':');
                if (colon != std::string::npos)
                {
                    std::string name = line.substr(0, colon);
                    std::transform(name.begin(), name.end(), name.begin(),
                                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
                    r.headers[name] = line.substr(line.find_first_not_of(' ', colon + 1));
                }
                lineEnd = next;
            }
            const size_t length =
                r.headers.count("content-length") ? std::stoul(r.headers["content-length"]) : 0;
            if (buffer_.size() >= end + 4 + length)
            {
                r.body = buffer_.substr(end + 4, length);
                buffer_.erase(0, end + 4 + length);
                return r;
            }
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{fd_, POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0)
            return {};
        char chunk[16384];
        const ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
        if (n <= 0)
            return {};
        buffer_.append(chunk, static_cast<size_t>(n));
    }
}

bool HttpConnection::closedByServer(int timeoutMs)
{
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0)
        return false;
    char c;
    return recv(fd_, &c, 1, MSG_PEEK) <= 0;
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
