// The server spoken to over real sockets, in this process and as the zncip-collector program.

#include "collector_fixture.h"
#include "http_client.h"

#include <sqlite3.h>

#include <signal.h>
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <new>
#include <thread>

// While set, every allocation outside the test's own thread fails, as when memory runs out.
std::atomic<bool> allocationsFail{false};
const std::thread::id testThread = std::this_thread::get_id();

void* operator new(std::size_t size)
{
    if (allocationsFail && std::this_thread::get_id() != testThread)
        throw std::bad_alloc();
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    return allocationsFail && std::this_thread::get_id() != testThread ? nullptr
                                                                       : std::malloc(size ? size : 1);
}
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept
{
    std::free(p);
}

namespace zncip::collector::test
{
namespace
{

TEST(Collect, OutOfMemoryIsAnswered503)
{
    RunningServer s;
    const std::string hit = moduleEvent("Commands", "Execute", "x");
    HttpConnection c(s.port());
    allocationsFail = true;
    const int status = c.post("/collect", hit).status;
    allocationsFail = false;
    EXPECT_EQ(status, 503);
    EXPECT_EQ(post(s.port(), "/collect", hit).status, 200);
}

// Holds every commit until it is opened.
struct GateStore : HitStore
{
    std::mutex mutex;
    std::condition_variable changed;
    bool open = false;
    size_t waiting = 0, kept = 0;

    void append(const std::vector<HitRecord>& hits) override
    {
        std::unique_lock<std::mutex> lock(mutex);
        ++waiting;
        changed.notify_all();
        changed.wait(lock, [&] { return open; });
        kept += hits.size();
    }
    void forEach(const std::function<void(const StoredHit&)>&) const override {}
    int64_t count() const override { return static_cast<int64_t>(kept); }
};

// What SIGTERM does: a hit committed while the server stops is still answered, or it would be sent again.
TEST(Collect, StopLetsTheAnswersUnderWayGoOut)
{
    auto owned = std::make_unique<GateStore>();
    GateStore& gate = *owned;
    RunningServer s({}, std::move(owned));
    HttpConnection c(s.port());
    const std::string hit = moduleEvent("Commands", "Execute", "x");
    c.sendRaw(requestHead("POST", "/collect", s.port(), hit.size()) + hit);
    {
        std::unique_lock<std::mutex> lock(gate.mutex);
        ASSERT_TRUE(gate.changed.wait_for(lock, std::chrono::seconds(5), [&] { return gate.waiting > 0; }));
    }
    std::thread stopper([&] { s.server->stop(); });
    const auto refused = [&] // as new connections are, once stopping has begun
    {
        try
        {
            HttpConnection probe(s.port());
        }
        catch (const std::runtime_error&)
        {
            return true;
        }
        return false;
    };
    for (int i = 0; i < 500 && !refused(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    {
        std::lock_guard<std::mutex> lock(gate.mutex);
        gate.open = true;
        gate.changed.notify_all();
    }
    EXPECT_TRUE(refused());
    EXPECT_EQ(c.read().status, 200);
    stopper.join();
    EXPECT_EQ(gate.kept, 1u);
}

// Every client posts on its own keep-alive connection; each hit must be stored once, in its order.
TEST(Collect, ConcurrentClientsLoseNothing)
{
    RunningServer s;
    constexpr int kClients = 8, kEach = 40;
    std::vector<std::thread> clients;
    std::atomic<int> ok{0};
    for (int t = 0; t < kClients; ++t)
        clients.emplace_back(
            [&, t]
            {
                HttpConnection c(s.port());
                for (int i = 0; i < kEach; ++i)
                    ok +=
                        c.post("/collect", moduleEvent("C", "E", std::to_string(t * 1000 + i))).status == 200;
            });
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

// Requests a client may send by mistake or on purpose: each gets its answer (0: the connection is closed
// without one) and stores what it says, and the server goes on answering.
TEST(Limits, HostileRequests)
{
    RunningServer s;
    const uint16_t port = s.port();
    const std::string hit = moduleEvent("Commands", "Execute", "x");
    std::string big = hit; // 60 KiB of problems: stored in part, with a short reason
    while (big.size() < 60000)
        big += "&n" + std::to_string(big.size()) + "=&n" + std::to_string(big.size()) + "=";
    std::string twenty;
    for (int i = 0; i < 20; ++i)
        twenty += hit + "\n";
    const auto batch = [&](const std::string& body)
    { return requestHead("POST", "/batch", port, body.size()) + body; };
    const std::string chunk = "4000\r\n" + std::string(0x4000, 'a') + "\r\n";
    struct Row
    {
        const char* what;
        std::string request;
        int status;
        size_t stored;
        bool cut = false;
        const char* allow = "";
    };
    const std::string h = requestHead("POST", "/collect", port, hit.size()) + hit;
    const std::string pad = "X-Pad: " + std::string(40000, 'p') + "\r\n";
    const auto headOf = [&](size_t size) // a hit whose request line and headers take size bytes
    {
        const std::string filler = "X-Pad: " + std::string(size - h.size() + hit.size() - 9, 'p') + "\r\n";
        return requestHead("POST", "/collect", port, hit.size(), filler) + hit;
    };
    // clang-format off
    const Row rows[] = {
        {"valid", h, 200, 1},
        {"over the hit limit: stored as rejected", requestHead("POST", "/collect", port, big.size()) + big, 200, 1},
        {"not HTTP", "GARBAGE\r\n\r\n", 0, 0},
        {"cut off in the body", h.substr(0, h.size() - 5), 0, 0, true},
        {"cut off in the head", h.substr(0, 40), 0, 0, true},
        {"length over 64 KiB, body not sent", requestHead("POST", "/collect", port, 10 << 20), 413, 0},
        {"chunked past 64 KiB", "POST /collect HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n" +
                                chunk + chunk + chunk + chunk + chunk, 0, 0},
        {"head over 16 KiB", requestHead("POST", "/collect", port, hit.size(), pad) + hit, 431, 0},
        {"GET", "GET /collect?" + hit + " HTTP/1.1\r\nHost: x\r\n\r\n", 405, 0, false, "POST"},
        {"other path", requestHead("POST", "/", port, hit.size()) + hit, 404, 0},
        {"trailing slash", requestHead("POST", "/collect/", port, hit.size()) + hit, 404, 0},
        {"prefixed path", requestHead("POST", "/r/collect", port, hit.size()) + hit, 404, 0},
        {"batch of 20", batch(twenty), 200, 20},
        {"batch of 21", batch(twenty + hit), 400, 0},
        {"batch line over 8 KiB", batch(std::string(8193, 'x') + "\n" + hit), 400, 0},
        {"two lengths", requestHead("POST", "/collect", port, hit.size(), "Content-Length: 5\r\n") + hit, 400, 0},
        {"length and chunked", requestHead("POST", "/collect", port, hit.size(), "Transfer-Encoding: chunked\r\n") + hit, 400, 0},
        {"encoded slash", requestHead("POST", "/debug%2Fcollect", port, hit.size()) + hit, 404, 0},
        {"encoded NUL", requestHead("POST", "/collect%00x", port, hit.size()) + hit, 404, 0},
        {"encoded letter", requestHead("POST", "/%63ollect", port, hit.size()) + hit, 404, 0},
        {"head of 16,050 bytes", headOf(16050), 200, 1},
        {"head just over 16 KiB", headOf(16400), 431, 0},
        {"batch over 16 KiB", batch(std::string(8100, 'x') + "\n" + std::string(8100, 'y') + "\n" + hit + hit), 400, 0}};
    // clang-format on
    size_t stored = 0;
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.what);
        {
            HttpConnection c(port);
            c.sendRaw(row.request);
            if (row.cut)
                c.closeWrite();
            const HttpResponse r = c.read();
            EXPECT_EQ(r.status, row.status);
            EXPECT_EQ(r.header("allow"), row.allow);
        }
        EXPECT_EQ(post(port, "/collect", hit).status, 200) << "the server still answers";
        stored += row.stored + 1;
        EXPECT_EQ(s.hits().size(), stored);
    }
    for (const StoredHit& stored : s.hits())
        EXPECT_TRUE(stored.body.size() <= 8192 && stored.reason.size() < 1000) << stored.reason;
}

TEST(Limits, SlowClientsAndOneAddressCannotHoldEveryConnection)
{
    ServerConfig config;
    config.idleTimeoutSec = 1;
    config.connectionsPerAddress = 2;
    RunningServer s(config);
    HttpConnection slow(s.port()), second(s.port()), third(s.port());
    EXPECT_TRUE(third.closedByServer(3000)) << "a third connection from one address";
    EXPECT_EQ(second.post("/collect", moduleEvent("Commands", "Execute", "x")).status, 200);
    slow.sendRaw("POST /collect HTTP/1.1\r\nHost: x\r\nContent-Le");
    EXPECT_TRUE(slow.closedByServer(4000)) << "idle past the timeout";
}

TEST(Endpoints, DebugAnswersTheVerdictAndBatchStoresEachLineWithItsOwn)
{
    RunningServer s;
    const HttpResponse debug = post(s.port(), "/debug/collect", "v=1&tid=UA-1&cid=x&t=event&ec=a");
    EXPECT_EQ(debug.header("content-type"), "application/json; charset=utf-8");
    EXPECT_EQ(
        debug.body,
        R"({"hitParsingResult":[{"valid":false,"parserMessage":[)"
        R"({"messageType":"ERROR","description":"the tracking identifier must have the form UA-digits-digits","parameter":"tid"},)"
        R"({"messageType":"ERROR","description":"a value is required","parameter":"ea"}],)"
        R"("hit":"/debug/collect?v=1&tid=UA-1&cid=x&t=event&ec=a"}],)"
        R"("parserMessage":[{"messageType":"INFO","description":"Found 1 hit in the request."}]})");
    const HttpResponse good = post(s.port(), "/debug/collect", moduleEvent("Session", "Start", ""));
    EXPECT_NE(good.body.find(R"("valid":true,"parserMessage":[])"), std::string::npos) << good.body;
    EXPECT_TRUE(s.hits().empty());

    const std::string a = moduleEvent("Commands", "Execute", "A"), b = "v=1&t=event";
    EXPECT_EQ(post(s.port(), "/batch", a + "\n" + b + "\r\n\n" + a + "\n").status, 200);
    std::string stored;
    for (const StoredHit& h : s.hits())
        stored += h.path + (h.accepted ? " accepted " : " rejected ") + h.body + "\n";
    EXPECT_EQ(stored, "/batch accepted " + a + "\n/batch rejected " + b + "\n/batch accepted " + a + "\n");
}

TEST(Storage, UnwritableDatabaseAnswers503UntilItCanWriteAgain)
{
    ServerConfig config;
    config.sqlite.busyTimeoutMs = 50;
    RunningServer s(config);
    // Another writer holding the database is what a full disk or a locked file looks like to the server:
    // the commit fails.
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(s.db().c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    const std::string body = moduleEvent("Commands", "Execute", "retry");
    HttpConnection c(s.port());
    const HttpResponse refused = c.post("/collect", body);
    EXPECT_EQ(refused.status, 503);
    EXPECT_EQ(refused.header("retry-after"), "30");
    EXPECT_EQ(post(s.port(), "/batch", body + "\n" + body).status, 503);

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

TEST(Program, AFileSizeLimitIsAnswered503)
{
    TempDir dir;
    rlimit normal{}, small{};
    getrlimit(RLIMIT_FSIZE, &normal);
    small = {256 * 1024, normal.rlim_max};
    setrlimit(RLIMIT_FSIZE, &small); // inherited by the program, for this process only until it started
    Program p({"serve", "--port", "0", "--db", dir.file("hits.db")});
    setrlimit(RLIMIT_FSIZE, &normal);
    const uint16_t port = p.port();
    int status = 200;
    for (int i = 0; i < 200 && status == 200; ++i)
        status = post(port, "/collect", moduleEvent("Commands", "Execute", std::string(7000, 'x'))).status;
    EXPECT_EQ(status, 503) << "0: the collector was killed";
    p.signal(SIGTERM);
    EXPECT_EQ(p.wait(), 0);
}

// SIGTERM and SIGINT stop it cleanly; after SIGKILL the write-ahead log is recovered: every answered hit
// is there, byte for byte.
TEST(Program, ServesUntilStoppedOrKilledAndKeepsEveryAnsweredHit)
{
    TempDir dir;
    const std::string db = dir.file("hits.db");
    std::vector<std::string> bodies;
    for (int signal : {SIGTERM, SIGINT, SIGKILL})
    {
        Program p({"serve", "--port", "0", "--db", db});
        const uint16_t port = p.port();
        ASSERT_NE(port, 0);
        bodies.push_back(
            moduleEvent("Commands", "Execute", "SIGNAL%20" + std::to_string(signal) + "%20(%C3%84)"));
        EXPECT_EQ(post(port, "/collect", bodies.back()).status, 200);
        p.signal(signal);
        EXPECT_EQ(p.wait(), signal == SIGKILL ? 128 + SIGKILL : 0);
    }
    std::vector<std::string> stored;
    for (const StoredHit& h : readHits(db))
        stored.push_back(h.body);
    EXPECT_EQ(stored, bodies);
    const Finished report = runProgram({"report", "--db", db});
    EXPECT_EQ(report.status, 0) << report.err;
    EXPECT_EQ(report.out.substr(0, report.out.find('\n')), "Hits: 3 stored, 3 accepted, 0 rejected");
    EXPECT_NE(report.out.find("crash-free sessions: no finished session reported yet"), std::string::npos);
}

TEST(Program, StartFailuresExitNonZeroWithAReason)
{
    TempDir dir;
    Program holder({"serve", "--port", "0", "--db", dir.file("a.db")});
    const uint16_t busy = holder.port();
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"serve", "--port", std::to_string(busy), "--db", dir.file("b.db")}, "already in use"},
        {{"serve", "--listen", "not-an-address", "--port", "0", "--db", dir.file("b.db")},
         "bad listen address"},
        {{"serve", "--listen", "192.0.2.1", "--port", "0", "--db", dir.file("b.db")},
         "not one of this machine"},
        {{"serve", "--port", "0", "--db", dir.file("no/such/dir.db")}, "cannot open database"},
        {{"serve", "--port", "0", "--db", dir.path()}, "cannot open database"},
        {{"report", "--db", dir.file("absent.db")}, "cannot open database"}};
    for (const auto& [args, message] : cases)
    {
        const Finished f = runProgram(args);
        EXPECT_EQ(f.status, 1) << args[1];
        EXPECT_NE(f.err.find(message), std::string::npos) << f.err;
        EXPECT_EQ(f.out, "") << "no listening line on failure";
    }
    for (const std::vector<std::string>& usage :
         std::vector<std::vector<std::string>>{{},
                                               {"serve", "--port", "70000"},
                                               {"serve", "--bogus"},
                                               {"report", "--port", "1"},
                                               {"frobnicate"}})
        EXPECT_EQ(runProgram(usage).status, 2);
}

} // namespace
} // namespace zncip::collector::test
