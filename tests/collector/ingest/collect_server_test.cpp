// The collection port spoken to over real sockets, in this process: stopping, concurrency, hostile
// requests and a store that cannot write.

#include "collector_fixture.h"

#include <sqlite3.h>

#include <sys/resource.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <new>
#include <thread>
#include <tuple>

// While set, every allocation outside the test's own thread fails, as when memory runs out.
std::atomic<bool> allocationsFail{false};
const std::thread::id testThread = std::this_thread::get_id();

void* operator new(std::size_t size)
{
    void* p =
        allocationsFail && std::this_thread::get_id() != testThread ? nullptr : std::malloc(size ? size : 1);
    return p ? p : throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    try
    {
        return operator new(size);
    }
    catch (const std::bad_alloc&)
    {
        return nullptr;
    }
}
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

namespace zncip::collector::test
{
namespace
{

// Both ways of committing: on a writer thread (a store in this process), and on the collection thread
// (a store whose server does the work).
constexpr bool kCommitsInServer[] = {false, true};

// What SIGTERM does: a request under way when the server stops is still read, stored and answered, or its
// hit would be sent again; a new connection meanwhile is closed unanswered.
TEST(Collect, StopLetsTheAnswersUnderWayGoOut)
{
    for (const bool inServer : kCommitsInServer)
    {
        SCOPED_TRACE(inServer ? "committed by the collection thread" : "committed by the writer");
        RunningServer s({}, inServer);
        HttpConnection c(s.port());
        const std::string hit = moduleEvent("Commands", "Execute", "x"),
                          request = requestHead("/collect", hit.size()) + hit;
        c.sendRaw(request.substr(0, request.size() - 5)); // the end of the body is still on its way
        // Answered only after the server has read what the first connection sent before it.
        ASSERT_EQ(get(s.port(), "/").status, 404);
        std::thread stopper([&] { s.server->stop(); });
        EXPECT_TRUE(eventually([&] { return get(s.port(), "/").status == 0; }))
            << "new ones are closed unanswered";
        c.sendRaw(request.substr(request.size() - 5));
        EXPECT_EQ(c.read().status, 200);
        stopper.join();
        EXPECT_EQ(s.hits().size(), 1u);
    }
}

// A client may give up while its hit waits for the commit. The hit is stored all the same (it came whole),
// and nothing of the request it left behind is touched after the connection is gone.
TEST(Collect, AClientThatLeavesWhileItsHitIsCommittedLeavesNothingBehind)
{
    RunningServer s;
    s.store->hold();
    {
        HttpConnection c(s.port());
        c.sendRaw(requestHead("/collect", 3) + "v=1");
        ASSERT_TRUE(eventually([&] { return s.store->arrived() == 1; }));
        const linger reset{1, 0}; // closes with a reset, which the server sees at once
        setsockopt(c.fd_, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    }
    // Answered only after the server has seen the first connection close.
    ASSERT_EQ(get(s.port(), "/").status, 404);
    s.store->release();
    EXPECT_EQ(post(s.port(), "/collect", "v=2").status, 200);
    EXPECT_EQ(s.hits().size(), 2u);
}

// Every client posts on its own keep-alive connection; each hit must be stored once, in its order.
TEST(Collect, ConcurrentClientsLoseNothing)
{
    for (const bool inServer : kCommitsInServer)
    {
        SCOPED_TRACE(inServer ? "committed by the collection thread" : "committed by the writer");
        RunningServer s({}, inServer);
        constexpr int kClients = 8, kEach = 40;
        std::atomic<int> ok{0};
        const auto client = [&](int t)
        {
            HttpConnection c(s.port());
            for (int i = 0; i < kEach; ++i)
                ok += c.post("/collect", moduleEvent("C", "E", std::to_string(t * 1000 + i))).status == 200;
        };
        std::vector<std::thread> clients;
        for (int t = 0; t < kClients; ++t)
            clients.emplace_back(client, t);
        for (std::thread& t : clients)
            t.join();
        EXPECT_EQ(ok, kClients * kEach);
        std::vector<int> next(kClients, 0); // the hit each client sent next, in its order
        for (const StoredHit& h : s.hits())
        {
            const int label = std::stoi(h.body.substr(h.body.find("&el=") + 4));
            EXPECT_EQ(label % 1000, next.at(label / 1000)++) << h.body;
        }
        EXPECT_EQ(next, std::vector<int>(kClients, kEach));
    }
}

// Requests a client may send by mistake or on purpose: each gets its answer (0: the connection is closed
// without one) and stores what it says, and the server goes on answering.
TEST(Limits, HostileRequests)
{
    RunningServer s;
    const std::string hit = moduleEvent("Commands", "Execute", "x"),
                      h = requestHead("/collect", hit.size()) + hit;
    // 60 KiB of problems, some with long names: stored in part, with a short reason.
    std::string big = hit + "&" + std::string(5000, 'n') + "=&" + std::string(5000, 'n') + "=";
    while (big.size() < 60000)
        big += "&n" + std::to_string(big.size()) + "=&n" + std::to_string(big.size()) + "=";
    const auto with = [&](const std::string& path, const std::string& headers = "")
    { return requestHead(path, hit.size(), headers) + hit; };
    const auto headOf = [&](size_t size) // a hit whose request line and headers take size bytes
    { return with("/collect", "X-Pad: " + std::string(size - h.size() + hit.size() - 9, 'p') + "\r\n"); };
    const std::string chunk = "4000\r\n" + std::string(0x4000, 'a') + "\r\n";
    struct Row
    {
        const char* what;
        std::string request;
        int status; // a hit answered 200 is stored
        bool cut = false;
    };
    // clang-format off
    const Row rows[] = {
        {"valid", h, 200},
        {"over the hit limit: stored as rejected", requestHead("/collect", big.size()) + big, 200},
        {"not HTTP", "GARBAGE\r\n\r\n", 0},
        {"body cut off", h.substr(0, h.size() - 5), 0, true}, {"head cut off", h.substr(0, 40), 0, true},
        {"length over 64 KiB, body not sent", requestHead("/collect", 10 << 20), 413},
        {"chunked past 64 KiB", "POST /collect HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n" +
                                chunk + chunk + chunk + chunk + chunk, 0},
        {"GET", "GET /collect?" + hit + " HTTP/1.1\r\nHost: x\r\n\r\n", 405}, {"other path", with("/"), 404},
        {"trailing slash", with("/collect/"), 404},  {"prefixed path", with("/r/collect"), 404},
        {"encoded slash", with("/debug%2Fcollect"), 404}, {"encoded NUL", with("/collect%00x"), 404},
        {"encoded letter", with("/%63ollect"), 404},
        {"two lengths", with("/collect", "Content-Length: 5\r\n"), 400},
        {"length and chunked", with("/collect", "Transfer-Encoding: chunked\r\n"), 400},
        {"head of exactly 16 KiB", headOf(16384), 200}, {"head just over 16 KiB", headOf(16400), 431},
        {"head over 16 KiB", with("/collect", "X-Pad: " + std::string(40000, 'p') + "\r\n"), 431},
        {"raw NUL in the path", with(std::string("/collect\0x", 10)), 404},
        {"query and headers over 16 KiB together", with("/collect?q=" + std::string(9000, 'q'),
                                                         "X-Pad: " + std::string(8000, 'p') + "\r\n"), 431}};
    // clang-format on
    size_t stored = 0;
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.what);
        HttpConnection c(s.port());
        c.sendRaw(row.request);
        if (row.cut)
            c.closeWrite();
        const HttpResponse r = c.read();
        EXPECT_EQ(r.status, row.status);
        EXPECT_EQ(r.header("Allow"), r.status == 405 ? "POST" : "");
        EXPECT_EQ(post(s.port(), "/collect", hit).status, 200) << "the server still answers";
        stored += (row.status == 200) + 1;
        EXPECT_EQ(s.hits().size(), stored);
    }
    for (const StoredHit& stored : s.hits())
        EXPECT_TRUE(stored.body.size() <= 8192 && stored.reason.size() < 1000) << stored.reason;
}

TEST(Limits, SlowClientsAndOneAddressCannotHoldEveryConnection)
{
    CollectConfig config;
    config.idleTimeoutSec = 1;
    config.connectionsPerAddress = 2;
    RunningServer s(config);
    HttpConnection slow(s.port()), second(s.port()), third(s.port());
    EXPECT_TRUE(third.closedByServer()) << "a third connection from one address";
    EXPECT_EQ(second.post("/collect", moduleEvent("Commands", "Execute", "x")).status, 200);
    slow.sendRaw("POST /collect HTTP/1.1\r\nHost: x\r\nContent-Le");
    EXPECT_TRUE(slow.closedByServer()) << "idle past the timeout";
}

// Never 2xx for a hit that was not committed, and answers again once it can write.
TEST(Storage, WhatCannotBeStoredIsAnswered503UntilItCanWriteAgain)
{
    CollectConfig config;
    config.storeOptions.busyTimeoutMs = 50;
    RunningServer s(config);
    const std::string body = moduleEvent("Commands", "Execute", "retry");
    HttpConnection c(s.port()), d(s.port());
    allocationsFail = true; // an exception in the request
    const int outOfMemory = d.post("/collect", body).status;
    allocationsFail = false;
    EXPECT_EQ(outOfMemory, 503);
    // Another writer holding the database is what a full disk or a locked file looks like to the server.
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(s.db().c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    const HttpResponse refused = c.post("/collect", body);
    EXPECT_EQ(refused.status, 503);
    EXPECT_EQ(refused.header("Retry-After"), "30");
    ASSERT_EQ(sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(other);
    EXPECT_EQ(c.post("/collect", body).status, 200);
    EXPECT_EQ(s.hits().size(), 1u);

    // A database file replaced or deleted under the server would swallow every hit from then on.
    std::filesystem::copy_file(s.db(), s.db() + ".copy");
    std::filesystem::rename(s.db() + ".copy", s.db());
    EXPECT_EQ(c.post("/collect", body).status, 503);
    std::filesystem::remove(s.db());
    EXPECT_EQ(c.post("/collect", body).status, 503);
}

} // namespace
} // namespace zncip::collector::test
