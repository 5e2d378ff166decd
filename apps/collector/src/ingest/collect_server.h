// The collection port: receives hits over HTTP and answers each once it is stored (or could not be).
#pragma once

#include "http/start_error.h"
#include "store/hit_store.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

namespace zncip::collector
{

struct CollectConfig
{
    std::string listenAddress = "127.0.0.1"; // numeric IPv4 or IPv6; loopback unless told otherwise
    uint16_t port = 8089;                    // 0: the system picks a free one, see CollectServer::port()
    std::string dbPath = "zncip-collector.db";
    StoreOptions storeOptions;

    // Answer every hit at once without validating or storing it. Only for measuring the HTTP layer
    // against the full path; a collector run this way keeps nothing.
    bool discard = false;

    // Acknowledge the request header at once. A client that writes header and body separately without
    // TCP_NODELAY (Qt does) otherwise waits for our delayed ACK, about 40 ms per request.
    bool quickAck = true;

    // A slow client holds a connection (a socket and its buffer, no thread); these bound how long and how
    // many.
    unsigned idleTimeoutSec = 10;
    unsigned connectionLimit = 4096;
    unsigned connectionsPerAddress = 64; // one client machine cannot take every connection
    size_t maxHeaderBytes = 16 * 1024;   // request line and headers together
    size_t maxBodyBytes = 64 * 1024;     // larger bodies are refused with 413 without being read
};

// The HTTP endpoint. start() opens the store and the listening socket and runs the server on a thread of
// its own (with a writer thread beside it where the store does its commits in this process) until stop()
// or destruction.
class CollectServer
{
public:
    // With store null the SQLite database of config.dbPath is opened (unless config.discard).
    explicit CollectServer(CollectConfig config, std::unique_ptr<HitStore> store = nullptr);
    ~CollectServer();
    CollectServer(const CollectServer&) = delete;
    CollectServer& operator=(const CollectServer&) = delete;

    void start(); // throws StartError
    // Stops taking connections (a new one is closed unanswered, a new request on an open one is answered
    // 503), lets the requests under way be committed and answered, then closes the rest; bounded by the
    // idle timeout plus ten seconds.
    void stop();

    uint16_t port() const;
    std::string address() const; // as printed: 127.0.0.1 or [::1]

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace zncip::collector
