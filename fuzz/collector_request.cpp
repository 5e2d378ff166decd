// Whole requests through the collector's HTTP handler: a real server on 127.0.0.1 with hits kept in
// memory, one connection per input. Every hit answered 2xx must have been stored, each exactly as sent.
//
// Input: method, path and header lines, a blank line, then the body; the harness adds Host,
// Connection: close and, unless the input brings its own framing, a Content-Length.
#include "ingest/collect_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <strings.h>
#include <thread>

using namespace zncip::collector;

namespace
{
class MemoryStore : public HitStore
{
public:
    void append(const std::vector<HitRecord>& hits) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        stored.insert(stored.end(), hits.begin(), hits.end());
    }
    void forEach(const std::function<void(const StoredHit&)>&) const override {}
    int64_t storedHits() const override { return static_cast<int64_t>(stored.size()); }
    Rollups rollups(const Period&) const override { return {}; }
    std::vector<std::string> versions() const override { return {}; }
    std::vector<StoredHit> rejectedSamples(const Period&, int) const override { return {}; }
    Forgotten forget(const std::string&) override { return {}; }
    int64_t pruneRawBefore(int32_t) override { return 0; }

    std::mutex mutex;
    std::vector<HitRecord> stored;
};

MemoryStore* store = nullptr;
CollectServer* server = nullptr;

std::string nextLine(std::string_view& in)
{
    const size_t end = std::min(in.find('\n'), in.size());
    std::string line(in.substr(0, end));
    in.remove_prefix(std::min(end + 1, in.size()));
    return line;
}

// Sends the request and returns the status of the answer, 0 when there is none.
int exchange(const std::string& request)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(server->port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // A connect can fail for want of a free local port while earlier connections linger in TIME_WAIT; a
    // collector that stops accepting fails every try, and that is what aborts.
    int fd = -1;
    for (int tries = 0;; ++tries)
    {
        fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
            break;
        const int error = errno;
        close(fd);
        if (tries == 200)
        {
            std::fprintf(stderr, "cannot connect to the collector: %s\n", std::strerror(error));
            std::abort();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const timeval timeout{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    (void)!send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    shutdown(fd, SHUT_WR);
    // Read up to the end of the first answer, not until the server closes.
    std::string answer;
    char buffer[4096];
    for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;)
    {
        answer.append(buffer, static_cast<size_t>(n));
        const size_t head = answer.find("\r\n\r\n");
        const size_t length = answer.find("Content-Length: ");
        if (head != std::string::npos && length < head &&
            answer.size() >= head + 4 + std::strtoull(answer.c_str() + length + 16, nullptr, 10))
            break;
    }
    const linger reset{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    close(fd);
    return answer.compare(0, 9, "HTTP/1.1 ") == 0 ? std::atoi(answer.c_str() + 9) : 0;
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    auto owned = std::make_unique<MemoryStore>();
    store = owned.get();
    CollectConfig config;
    config.port = 0;
    server = new CollectServer(config, std::move(owned));
    server->start();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string_view in(reinterpret_cast<const char*>(data), size);
    const std::string method = nextLine(in);
    const std::string path = nextLine(in);
    // The agent names this input's hits: a request left over from an earlier input (one the input framed
    // itself, with more behind it) may still be stored while this one runs.
    static unsigned long serial = 0;
    const std::string agent = "fuzz-" + std::to_string(++serial);
    std::string request = method + " " + path +
                          " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\nUser-Agent: " + agent +
                          "\r\n";
    // framed: the input frames the body itself, or has a header HTTP forbids (no name, control bytes, a
    // line folded onto the one before it by a leading blank or tab, which would also change the agent
    // that tells this input's hits apart) (the HTTP library may then end the header early and answer
    // without reading the body).
    bool framed = false;
    for (std::string header; !in.empty() && !(header = nextLine(in)).empty();)
    {
        framed = framed || strncasecmp(header.c_str(), "content-length", 14) == 0 ||
                 strncasecmp(header.c_str(), "transfer-encoding", 17) == 0 || header.find(':') == 0 ||
                 header.find(':') == std::string::npos || header[0] == ' ' || header[0] == '\t' ||
                 std::any_of(header.begin(), header.end(),
                             [](char c) { return c != '\t' && (c >= 0 && c < 0x20); });
        request += header + "\r\n";
    }
    const std::string body(in);
    if (!framed)
        request += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    request += "\r\n" + body;

    size_t before = 0;
    {
        std::lock_guard<std::mutex> lock(store->mutex);
        before = store->stored.size();
    }
    const int status = exchange(request);
    std::lock_guard<std::mutex> lock(store->mutex);
    std::vector<HitRecord> added;
    for (size_t i = before; i < store->stored.size(); ++i)
        if (store->stored[i].userAgent == agent)
            added.push_back(store->stored[i]);
    // What was stored is looked at once: kept, it would grow without end over a long run.
    store->stored.clear();
    if (status < 200 || status > 299 || method != "POST" || framed)
        return 0;
    // The body as the collector should have kept it: whole for /collect, one hit per non-empty line
    // (without a trailing CR) for /batch.
    if (path != "/collect" && path != "/batch")
        return 0;
    std::vector<std::string> expected;
    if (path == "/collect")
        expected.push_back(body);
    for (std::string_view rest = body; path == "/batch" && !rest.empty();)
    {
        std::string line = nextLine(rest);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            expected.push_back(line);
    }
    bool same = added.size() == expected.size();
    for (size_t i = 0; same && i < added.size(); ++i)
        same = added[i].body == expected[i] && added[i].path == path;
    if (!same)
    {
        fprintf(stderr, "collector_request: answered %d, %zu hits sent, %zu stored:\n", status,
                expected.size(), added.size());
        for (const HitRecord& hit : added)
            fprintf(stderr, "  %s %zu bytes\n", hit.path.c_str(), hit.body.size());
        std::abort();
    }
    return 0;
}
