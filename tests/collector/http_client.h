#pragma once

// A small blocking HTTP/1.1 client for talking to the collector byte by byte: tests need to send
// exactly what they mean, including broken requests, which a full client library would not allow.

#include <cstdint>
#include <map>
#include <string>

namespace zncip::collector::test
{

struct HttpResponse
{
    int status = 0;                             // 0: the connection closed before a complete answer
    std::map<std::string, std::string> headers; // names in lower case
    std::string body;

    std::string header(const std::string& lowerCaseName) const
    {
        const auto it = headers.find(lowerCaseName);
        return it == headers.end() ? std::string() : it->second;
    }
};

class HttpConnection
{
public:
    explicit HttpConnection(uint16_t port);
    ~HttpConnection();
    HttpConnection(const HttpConnection&) = delete;
    HttpConnection& operator=(const HttpConnection&) = delete;

    void sendRaw(const std::string& bytes);
    void closeWrite(); // the request ends here, as when a client is cut off
    // Reads one answer; status 0 when the server closed the connection first or timeoutMs passed.
    HttpResponse read(int timeoutMs = 5000);
    // True when the server closes the connection within timeoutMs.
    bool closedByServer(int timeoutMs);

    HttpResponse post(const std::string& path, const std::string& body, const std::string& extraHeaders = "");

private:
    int fd_ = -1;
    uint16_t port_;
    std::string buffer_;
};

// One request on a fresh connection.
HttpResponse post(uint16_t port, const std::string& path, const std::string& body);
std::string requestHead(const std::string& method, const std::string& path, uint16_t port, size_t bodyLength,
                        const std::string& extraHeaders = "");

} // namespace zncip::collector::test
