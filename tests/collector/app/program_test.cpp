// zncip-collector run as a program: what it answers when the disk is full, how it stops, and how it fails
// to start.

#include "collector_fixture.h"

#include <sys/resource.h>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

namespace zncip::collector::test
{
namespace
{

TEST(Program, AFileSizeLimitIsAnswered503)
{
    TempDir dir;
    rlimit normal{};
    getrlimit(RLIMIT_FSIZE, &normal);
    const rlimit small{256 * 1024, normal.rlim_max};
    setrlimit(RLIMIT_FSIZE, &small); // inherited by the program, for this process only until it started
    Program p({"serve", "--port", "0", "--db", dir.file("hits.db")});
    setrlimit(RLIMIT_FSIZE, &normal);
    const uint16_t port = p.port();
    int status = 200;
    for (int i = 0; i < 200 && status == 200; ++i)
        status = post(port, "/collect", moduleEvent("Commands", "Execute", std::string(7000, 'x'))).status;
    EXPECT_EQ(status, 503) << "0: the collector was killed";
    p.signal(SIGTERM);
    EXPECT_EQ(p.wait(), 0) << p.err();
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
    Program report({"report", "--db", db});
    EXPECT_EQ(report.wait(), 0);
    const std::string out = report.out();
    EXPECT_EQ(out.substr(0, out.find('\n')), "Hits: 3 stored, 3 accepted, 0 rejected");
    EXPECT_NE(out.find("crash-free sessions: no finished session reported yet"), std::string::npos);
}

// Exit 1 with the reason and no listening line when it cannot start; 2 for a wrong command line.
TEST(Program, StartFailuresExitNonZeroWithAReason)
{
    TempDir dir;
    Program holder({"serve", "--port", "0", "--db", dir.file("a.db")});
    const std::string busy = std::to_string(holder.port()), b = dir.file("b.db");
    const std::tuple<std::vector<std::string>, int, std::string> cases[] = {
        {{"serve", "--port", busy, "--db", b}, 1, "already in use"},
        {{"serve", "--listen", "not-an-address", "--port", "0", "--db", b}, 1, "bad listen address"},
        {{"serve", "--listen", "192.0.2.1", "--port", "0", "--db", b}, 1, "not one of this machine"},
        {{"serve", "--port", "0", "--db", dir.file("no/such/dir.db")}, 1, "cannot open database"},
        {{"serve", "--port", "0", "--db", dir.path()}, 1, "cannot open database"},
        {{"report", "--db", dir.file("absent.db")}, 1, "cannot open database"},
        {{"serve", "--port", "0", "--db", b, "--read-db", "postgres:///zncip", "--admin-listen",
          "127.0.0.1:0"},
         1,
         "PostgreSQL --db"},
        {{"serve", "--no-admin", "--read-db", "postgresql:///zncip"}, 2, "--no-admin excludes"},
        {{}, 2, "usage:"},
        {{"serve", "--port", "70000"}, 2, "usage:"},
        {{"serve", "--bogus"}, 2, "usage:"},
        {{"report", "--port", "1"}, 2, "usage:"},
        {{"report", "--from", "2026-02-30"}, 2, "--from needs a date"},
        {{"report", "--to", "26-01-01"}, 2, "--to needs a date"},
        {{"forget", "--db", b}, 2, "forget needs --cid"},
        {{"serve", "--keep-raw-days", "0"}, 2, "--keep-raw-days needs"},
        {{"frobnicate"}, 2, "usage:"}};
    for (const auto& [args, status, message] : cases)
    {
        Program p(args);
        EXPECT_EQ(p.wait(), status) << (args.empty() ? "" : args.back());
        const std::string err = p.err();
        EXPECT_NE(err.find(message), std::string::npos) << err;
        EXPECT_EQ(p.out(), "");
    }
}

} // namespace
} // namespace zncip::collector::test
