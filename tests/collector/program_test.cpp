// zncip-collector as a program: what scripts and operators see.

#include "collector_fixture.h"
#include "http_client.h"

#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>

namespace zncip::collector::test
{
namespace
{

uint16_t portFrom(const std::string& line)
{
    const std::string prefix = "listening on 127.0.0.1:";
    const std::string port = line.substr(std::min(line.size(), prefix.size()));
    if (line.compare(0, prefix.size(), prefix) != 0 || port.empty() ||
        port.find_first_not_of("0123456789") != std::string::npos)
    {
        ADD_FAILURE() << "unexpected first line: '" << line << "'";
        return 0;
    }
    return static_cast<uint16_t>(std::stoi(port));
}

struct Finished
{
    int status;
    std::string out;
    std::string err;
};

Finished run(const std::vector<std::string>& args)
{
    ChildProcess p = ChildProcess::spawn(args);
    Finished f;
    f.out = p.readAllOut();
    f.err = p.readAllErr();
    f.status = p.wait();
    return f;
}

TEST(Program, ServesUntilTerminatedAndPrintsItsPort)
{
    TempDir dir;
    for (int signal : {SIGTERM, SIGINT})
    {
        ChildProcess p = ChildProcess::spawn({"serve", "--port", "0", "--db", dir.file("hits.db")});
        const uint16_t port = portFrom(p.readLine());
        ASSERT_NE(port, 0);
        EXPECT_EQ(post(port, "/collect", moduleEvent("Commands", "Execute", "x")).status, 200);
        kill(p.pid, signal);
        EXPECT_EQ(p.wait(), 0);
    }
    EXPECT_EQ(readHits(dir.file("hits.db")).size(), 2u);
}

TEST(Program, AnsweredHitSurvivesKill9)
{
    TempDir dir;
    const std::string db = dir.file("hits.db");
    const std::string body = moduleEvent("Commands", "Execute", "SURVIVOR%20(%C3%84)");
    {
        ChildProcess p = ChildProcess::spawn({"serve", "--port", "0", "--db", db});
        const uint16_t port = portFrom(p.readLine());
        HttpConnection c(port);
        ASSERT_EQ(c.post("/collect", body).status, 200);
        kill(p.pid, SIGKILL);
        EXPECT_EQ(p.wait(), 128 + SIGKILL);
    }
    // Restarting recovers the write-ahead log; the hit must be there with its exact body.
    ChildProcess again = ChildProcess::spawn({"serve", "--port", "0", "--db", db});
    const uint16_t port = portFrom(again.readLine());
    EXPECT_EQ(post(port, "/collect", body).status, 200);
    kill(again.pid, SIGTERM);
    EXPECT_EQ(again.wait(), 0);

    const Finished exported = run({"export", "--db", db});
    EXPECT_EQ(exported.status, 0) << exported.err;
    const std::string expected = "\"body\":\"" + body + "\"";
    const size_t first = exported.out.find(expected);
    ASSERT_NE(first, std::string::npos) << exported.out;
    EXPECT_NE(exported.out.find(expected, first + 1), std::string::npos) << "both hits kept";
    EXPECT_NE(exported.out.find(R"j(["el","SURVIVOR (Ä)"])j"), std::string::npos);
}

TEST(Program, StartFailuresExitNonZeroWithAReason)
{
    TempDir dir;
    ChildProcess holder = ChildProcess::spawn({"serve", "--port", "0", "--db", dir.file("a.db")});
    const uint16_t busy = portFrom(holder.readLine());

    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"serve", "--port", std::to_string(busy), "--db", dir.file("b.db")}, "already in use"},
        {{"serve", "--listen", "not-an-address", "--port", "0", "--db", dir.file("b.db")},
         "bad listen address"},
        {{"serve", "--listen", "192.0.2.1", "--port", "0", "--db", dir.file("b.db")},
         "not one of this machine"},
        {{"serve", "--port", "0", "--db", dir.file("no/such/dir.db")}, "cannot open database"},
        {{"serve", "--port", "0", "--db", dir.path()}, "cannot open database"},
        {{"report", "--db", dir.file("absent.db")}, "cannot open database"},
    };
    for (const auto& [args, message] : cases)
    {
        const Finished f = run(args);
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
        EXPECT_EQ(run(usage).status, 2);
}

TEST(Program, ReportSummarisesTheDatabase)
{
    TempDir dir;
    const std::string db = dir.file("hits.db");
    {
        ChildProcess p = ChildProcess::spawn({"serve", "--port", "0", "--db", db});
        const uint16_t port = portFrom(p.readLine());
        HttpConnection c(port);
        c.post("/collect", moduleEvent("Commands", "Execute", "LINE%20(GROUPA)"));
        c.post("/collect", moduleEvent("Session", "Good", "Good"));
        c.post("/collect", "v=1&t=event");
        kill(p.pid, SIGTERM);
        p.wait();
    }
    const Finished f = run({"report", "--db", db});
    EXPECT_EQ(f.status, 0) << f.err;
    for (const char* expected :
         {"Hits: 3 stored, 2 accepted, 1 rejected", "LINE (GROUPA)", "crash-free sessions: 100.0%"})
        EXPECT_NE(f.out.find(expected), std::string::npos) << expected << "\n" << f.out;
}

} // namespace
} // namespace zncip::collector::test
