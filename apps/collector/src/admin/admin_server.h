#pragma once

#include "store/hit_store.h"

#include <cstdint>
#include <memory>
#include <string>

namespace zncip::collector
{

struct AdminConfig
{
    std::string listenAddress = "127.0.0.1"; // numeric IPv4 or IPv6
    uint16_t port = 8090;                    // 0: the system picks a free one, see AdminServer::port()
    std::string dbPath = "zncip-collector.db";
    StoreOptions storeOptions;
    // A file holding the token that opens the pages and the API. Without one, only clients on this
    // machine (loopback) are let in.
    std::string tokenFile;
};

// The product team's pages and the JSON API behind them, on a listener of their own so that nothing of
// it is reachable on the collection port. Reads the rollups through a connection of its own.
//   GET /, /commands, /machines, /versions, /rejected   the pages (one document, the script picks the view)
//   GET /static/app.js, /static/app.css, /static/chart.js
//   GET /api/report?from=YYYY-MM-DD&to=YYYY-MM-DD&version=V   as `report --json`
//   GET /api/versions                                   {"versions":["1.0",...]} of everything stored
//   GET /api/rejected?from=&to=&limit=N                 {"samples":[{"received","reason","body"},...]}
//   GET /api/csv/TABLE?from=&to=&version=               one table of the report as CSV
//   GET /login, POST /login (token=...)                 sets the session cookie
class AdminServer
{
public:
    explicit AdminServer(AdminConfig config);
    ~AdminServer();
    AdminServer(const AdminServer&) = delete;
    AdminServer& operator=(const AdminServer&) = delete;

    void start(); // throws StartError (server.h)
    void stop();
    uint16_t port() const;
    std::string address() const; // as printed: 127.0.0.1 or [::1]

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace zncip::collector
