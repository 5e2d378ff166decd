// The product team's pages and the JSON API behind them, on a listener of their own so that nothing of it
// is reachable on the collection port. The serve command starts and stops it from its main thread; the
// HTTP library answers on a thread for each connection, each request with a read-only store connection
// borrowed from a small pool (reader_pool.h).
#pragma once

#include "store/hit_store.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zncip::collector
{

struct AdminConfig
{
    std::string listenAddress = "127.0.0.1"; // numeric IPv4 or IPv6
    uint16_t port = 8090;                    // 0: the system picks a free one, see AdminServer::port()
    std::string dbPath = "zncip-collector.db";
    std::string readDbPath; // what the pages read, such as a hot standby of dbPath; empty: dbPath
    StoreOptions storeOptions;
    // The JSON object GET /api/status answers, with the stored days added, called on the HTTP library's
    // threads; when empty, the answer holds the stored days alone.
    std::function<std::string()> status;
    // The file holding the token that opens the pages and the API. Without one, a token is made at first
    // start in stateFolder (empty: see defaultStateFolder in admin_auth.h), unless noToken.
    std::string tokenFile;
    std::string stateFolder;
    bool noToken = false;               // every client on this machine is let in; loopback listeners only
    std::vector<std::string> hostNames; // Host names a request may give besides the listen address
    unsigned connectionsPerAddress = 8;
    unsigned connectionLimit = 64;
    unsigned requestTimeoutSec = 10; // idle, or to complete a request
    std::chrono::seconds sessionLifetime{12 * 3600};
};

// Everything it answers:
//   GET /, /commands, /machines, /versions, /rejected   the pages (one document, the script picks the view)
//   GET /static/app.js, /static/app.css, /static/chart.js
//   GET /api/...                                        see admin_api.h
//   GET /login, POST /login (token=...)                 opens a session, held in a cookie
//   POST /logout                                        ends it
class AdminServer
{
public:
    explicit AdminServer(AdminConfig config);
    ~AdminServer();
    AdminServer(const AdminServer&) = delete;
    AdminServer& operator=(const AdminServer&) = delete;

    void start(); // throws StartError (http/start_error.h)
    void stop();
    uint16_t port() const;
    std::string address() const;   // as printed: 127.0.0.1 or [::1]
    std::string tokenFile() const; // the token's file once started; empty with noToken
    bool tokenMade() const;        // start() wrote the token file

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace zncip::collector
