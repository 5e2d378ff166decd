// The server on its own threads, spoken to over real sockets, with a fresh database per test.

#include "collector_fixture.h"
#include "http_client.h"

#include <sqlite3.h>

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

namespace zncip::collector::test
{
namespace
{

const std::string kGifStart = "GIF89a";

TEST(Collect, ValidHitIsStoredExactlyAndAnsweredWithThePixel)
{
    RunningServer s;
    const std::string body = moduleEvent("Commands", "Execute", "LINE%20(GROUPA)") + "&el2=C++%20%C3%A4";
    const HttpResponse r = post(s.port(), "/collect", body);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.header("content-type"), "image/gif");
    EXPECT_EQ(r.body.size(), 35u);
    EXPECT_EQ(r.body.substr(0, 6), kGifStart);

    const auto hits = s.hits();
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].body, body);
    EXPECT_EQ(hits[0].path, "/collect");
    EXPECT_TRUE(hits[0].accepted);
    EXPECT_EQ(hits[0].reason, "");
    EXPECT_EQ(hits[0].userAgent, "App SP2 x64/1.0 (WIN; en_US) Ostrevan/1.0 (Qt/5.12.3)");
    EXPECT_GT(hits[0].receivedUs, 1600000000000000);
}

TEST(Collect, InvalidHitIsStoredAsRejectedAndStillAnswered200)
{
    // Anything but 2xx makes the module resend the hit forever and blocks the hits behind it.
    RunningServer s;
    const std::string bodies[] = {"v=1&tid=UA-1-1&cid=x&t=event&ea=Execute", "garbage", "",
                                  moduleEvent("Commands", "Execute", "100%")};
    for (const std::string& body : bodies)
        EXPECT_EQ(post(s.port(), "/collect", body).status, 200) << body;
    const auto hits = s.hits();
    ASSERT_EQ(hits.size(), 4u);
    for (size_t i = 0; i < 4; ++i)
    {
        EXPECT_EQ(hits[i].body, bodies[i]);
        EXPECT_FALSE(hits[i].accepted);
    }
    EXPECT_EQ(hits[0].reason, "ec: a value is required");
    EXPECT_NE(hits[3].reason.find("'%'"), std::string::npos);
}

TEST(Collect, KeepAliveConnectionCarriesManyHitsInOrder)
{
    RunningServer s;
    HttpConnection c(s.port());
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(c.post("/collect", moduleEvent("Commands", "Execute", "C" + std::to_string(i)),
                         "Connection: keep-alive\r\n")
                      .status,
                  200);
    const auto hits = s.hits();
    ASSERT_EQ(hits.size(), 5u);
    for (int i = 0; i < 5; ++i)
        EXPECT_NE(hits[i].body.find("&el=C" + std::to_string(i) + "&"), std::string::npos);
}

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
                    if (c.post("/collect", moduleEvent("Commands", "Execute",
                                                       std::to_string(t) + "-" + std::to_string(i)))
                            .status == 200)
                        ++ok;
            });
    for (std::thread& t : clients)
        t.join();
    EXPECT_EQ(ok, kClients * kEach);
    std::set<std::string> bodies;
    for (const StoredHit& h : s.hits())
        bodies.insert(h.body);
    EXPECT_EQ(bodies.size(), static_cast<size_t>(kClients * kEach));
}

TEST(Collect, OversizeHitIsStoredAsRejectedUpToTheHardCap)
{
    RunningServer s;
    const std::string big = moduleEvent("Commands", "Execute", std::string(9000, 'x'));
    EXPECT_EQ(post(s.port(), "/collect", big).status, 200);
    const auto hits = s.hits();
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].body, big);
    EXPECT_NE(hits[0].reason.find("more than the 8192 bytes allowed"), std::string::npos);
}

TEST(Limits, BodyOverTheHardCapIsRefusedUnread)
{
    RunningServer s;
    HttpConnection c(s.port());
    // Only the header is sent: the answer must not wait for a body it will not read.
    c.sendRaw(requestHead("POST", "/collect", s.port(), 10 * 1024 * 1024));
    EXPECT_EQ(c.read().status, 413);

    HttpConnection chunked(s.port());
    chunked.sendRaw("POST /collect HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n");
    const std::string chunk = "4000\r\n" + std::string(0x4000, 'a') + "\r\n";
    for (int i = 0; i < 6; ++i)
        chunked.sendRaw(chunk);
    EXPECT_TRUE(chunked.closedByServer(5000));
    EXPECT_TRUE(s.hits().empty());
}

TEST(Limits, OversizeHeaderIsRefused)
{
    RunningServer s;
    HttpConnection c(s.port());
    const std::string body = moduleEvent("Commands", "Execute", "x");
    c.sendRaw(
        requestHead("POST", "/collect", s.port(), body.size(), "X-Pad: " + std::string(40000, 'p') + "\r\n") +
        body);
    const HttpResponse r = c.read();
    EXPECT_TRUE(r.status == 0 || r.status == 413 || r.status == 431) << r.status;
    EXPECT_TRUE(s.hits().empty());
}

TEST(Limits, SlowClientIsDisconnected)
{
    ServerConfig config;
    config.idleTimeoutSec = 1;
    RunningServer s(config);
    HttpConnection c(s.port());
    c.sendRaw("POST /collect HTTP/1.1\r\nHost: x\r\nContent-Le");
    EXPECT_TRUE(c.closedByServer(4000));
}

TEST(Limits, OneAddressCannotTakeEveryConnection)
{
    ServerConfig config;
    config.connectionsPerAddress = 2;
    RunningServer s(config);
    HttpConnection first(s.port()), second(s.port()), third(s.port());
    EXPECT_TRUE(third.closedByServer(3000));
    EXPECT_EQ(first.post("/collect", moduleEvent("Commands", "Execute", "x")).status, 200);
    EXPECT_FALSE(second.closedByServer(100));
}

TEST(Limits, MalformedAndCutOffRequestsStoreNothingAndHurtNoOne)
{
    RunningServer s;
    {
        HttpConnection c(s.port());
        c.sendRaw("GARBAGE\r\n\r\n");
        const HttpResponse r = c.read();
        EXPECT_TRUE(r.status == 0 || r.status == 400) << r.status;
    }
    {
        HttpConnection c(s.port());
        const std::string body = moduleEvent("Commands", "Execute", "cut");
        c.sendRaw(requestHead("POST", "/collect", s.port(), body.size()) + body.substr(0, body.size() / 2));
    } // closed halfway through the body
    const std::string whole = moduleEvent("Commands", "Execute", "whole");
    EXPECT_EQ(post(s.port(), "/collect", whole).status, 200);
    const auto hits = s.hits();
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].body, whole);
}

TEST(Routing, OtherPathsAndMethods)
{
    RunningServer s;
    HttpConnection c(s.port());
    c.sendRaw("GET /collect?v=1 HTTP/1.1\r\nHost: x\r\n\r\n");
    const HttpResponse get = c.read();
    EXPECT_EQ(get.status, 405);
    EXPECT_EQ(get.header("allow"), "POST");
    EXPECT_EQ(post(s.port(), "/", "v=1").status, 404);
    EXPECT_EQ(post(s.port(), "/collect/", "v=1").status, 404);
    EXPECT_EQ(post(s.port(), "/r/collect", "v=1").status, 404);
    EXPECT_TRUE(s.hits().empty());
}

TEST(Debug, AnswersTheVerdictAndStoresNothing)
{
    RunningServer s;
    const HttpResponse bad = post(s.port(), "/debug/collect", "v=1&tid=UA-1&cid=x&t=event&ec=a");
    EXPECT_EQ(bad.status, 200);
    EXPECT_EQ(bad.header("content-type"), "application/json; charset=utf-8");
    EXPECT_EQ(
        bad.body,
        R"({"hitParsingResult":[{"valid":false,"parserMessage":[)"
        R"({"messageType":"ERROR","description":"the tracking identifier must have the form UA-digits-digits","parameter":"tid"},)"
        R"({"messageType":"ERROR","description":"a value is required","parameter":"ea"}],)"
        R"("hit":"/debug/collect?v=1&tid=UA-1&cid=x&t=event&ec=a"}],)"
        R"("parserMessage":[{"messageType":"INFO","description":"Found 1 hit in the request."}]})");

    const HttpResponse good = post(s.port(), "/debug/collect", moduleEvent("Session", "Start", ""));
    EXPECT_NE(good.body.find(R"("valid":true,"parserMessage":[])"), std::string::npos) << good.body;
    EXPECT_TRUE(s.hits().empty());
}

TEST(Batch, SplitsLinesAndStoresEachWithItsVerdict)
{
    RunningServer s;
    const std::string a = moduleEvent("Commands", "Execute", "A");
    const std::string b = "v=1&t=event";
    const std::string c = moduleEvent("Commands", "Execute", "C");
    EXPECT_EQ(post(s.port(), "/batch", a + "\n" + b + "\r\n\n" + c + "\n").status, 200);
    const auto hits = s.hits();
    ASSERT_EQ(hits.size(), 3u);
    EXPECT_EQ(hits[0].body, a);
    EXPECT_EQ(hits[1].body, b);
    EXPECT_EQ(hits[2].body, c);
    EXPECT_TRUE(hits[0].accepted);
    EXPECT_FALSE(hits[1].accepted);
    EXPECT_TRUE(hits[2].accepted);
    EXPECT_EQ(hits[0].path, "/batch");
}

TEST(Batch, OverTheLimitsIsRefusedWhole)
{
    RunningServer s;
    const std::string hit = moduleEvent("Commands", "Execute", "x");
    std::string twenty, twentyOne;
    for (int i = 0; i < 20; ++i)
        twenty += hit + "\n";
    twentyOne = twenty + hit;
    EXPECT_EQ(post(s.port(), "/batch", twentyOne).status, 400);
    EXPECT_EQ(post(s.port(), "/batch", std::string(8193, 'x') + "\n" + hit).status, 400);
    EXPECT_EQ(
        post(s.port(), "/batch", std::string(8100, 'x') + "\n" + std::string(8100, 'y') + "\n" + hit + hit)
            .status,
        400);
    EXPECT_TRUE(s.hits().empty());
    EXPECT_EQ(post(s.port(), "/batch", twenty).status, 200);
    EXPECT_EQ(s.hits().size(), 20u);
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
    const auto hits = s.hits();
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].body, body);
}

TEST(Startup, ListensOnIpv6Loopback)
{
    ServerConfig config;
    config.listenAddress = "::1";
    try
    {
        RunningServer s(config);
        EXPECT_EQ(s.server->address(), "[::1]");
        EXPECT_NE(s.port(), 0);
    }
    catch (const StartError& e)
    {
        GTEST_SKIP() << "no IPv6 loopback here: " << e.what();
    }
}

} // namespace
} // namespace zncip::collector::test
