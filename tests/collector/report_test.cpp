// The report from what a few runs of the module would send.

#include "collector_fixture.h"
#include "report.h"

#include <gtest/gtest.h>

namespace zncip::collector::test
{
namespace
{

const std::string kAlice = "11111111-1a05-49d7-b876-2b884d0f825b";
const std::string kBob = "22222222-1a05-49d7-b876-2b884d0f825b";

std::string sessionHit(const std::string& action, const std::string& cid)
{
    std::string body = "v=1&tid=UA-582047-16&cid=" + cid +
                       "&t=event&ul=en-us&qt=1&an=App%20SP2%20x64&av=1.0&ec=Session&ea=" + action;
    return body + (action == "Start" ? "&sc=start" : "&sc=end");
}

class ReportTest : public ::testing::Test
{
protected:
    void add(const std::string& body, bool accepted = true, const std::string& reason = "")
    {
        HitRecord h;
        h.path = "/collect";
        h.body = body;
        h.accepted = accepted;
        h.reason = reason;
        hits.push_back(h);
    }
    Report build()
    {
        TempDir dir;
        const auto store = openSqliteStore(dir.file("hits.db"));
        store->append(hits);
        return buildReport(*store);
    }
    std::vector<HitRecord> hits;
};

TEST_F(ReportTest, CountsWhatTheModuleReports)
{
    for (const std::string& cid : {kAlice, kBob})
    {
        add(moduleEvent("System", "DPI", "125", cid));
        add(moduleEvent("System", "Thread%20Count", "8", cid));
        add(moduleEvent("System", "Screen%20Count", "2", cid));
        add(moduleEvent("System", "OS", "Windows%2010%20[AMD64]", cid));
        add(moduleEvent("System", "Memory", "16384", cid));
        add(moduleEvent("Screen", "Resolution", "1920%20x%201080", cid));
        add(moduleEvent("OpenGL", "Renderer%20CORE", "ACME%20GL", cid));
        add(moduleEvent("OpenGL", "Version%20CORE", "ACME:4.5", cid));
        add(sessionHit("Start", cid));
    }
    add(moduleEvent("Screen", "Resolution", "2560%20x%201440", kAlice));
    add(moduleEvent("OpenGL", "Renderer%20COMPATIBILITY", "Soft", kBob));
    add(moduleEvent("Commands", "Execute", "LINE%20(GROUPA)", kAlice));
    add(moduleEvent("Commands", "Execute", "LINE%20(GROUPA)", kAlice));
    add(moduleEvent("Commands", "Execute", "LINE%20(GROUPA)", kBob));
    add(moduleEvent("Commands", "Execute", "C++%20(TOOLS)", kBob)); // '+' unencoded: reads as blanks
    add(moduleEvent("Unknown%20Commands", "Execute", "XYZ", kBob));
    // Finished sessions: two good, one bad with a crash report, one without.
    for (const char* label : {"Good", "Good"})
    {
        add(moduleEvent("Session", "Good", label, kAlice));
        add(moduleEvent("Session", "Global", "Global", kAlice));
    }
    for (const char* crash : {"With_Crash_Report", "Without_Crash_Report"})
    {
        add(moduleEvent("Session", "Bad", crash, kBob));
        add(moduleEvent("Session", "Bad", "Bad", kBob));
        add(moduleEvent("Session", "Global", "Global", kBob));
    }
    add(sessionHit("End", kAlice));
    add("v=2&cid=mallory&t=event&ec=Commands&ea=Execute&el=FAKE", false, "v: the protocol version must be 1");
    add("v=1&tid=UA-1-1&cid=" + kAlice + "&t=event&an=Other&av=2.0&ec=Commands&ea=Execute&el=OTHER&ev=1");

    const Report r = build();
    EXPECT_EQ(r.stored, static_cast<int64_t>(hits.size()));
    EXPECT_EQ(r.rejected, 1);
    EXPECT_EQ(r.rejectionReasons.at("v: the protocol version must be 1"), 1);
    EXPECT_EQ(r.clients.size(), 2u) << "a rejected hit's client is not counted";

    EXPECT_EQ(r.commands.reports("LINE (GROUPA)"), 3);
    EXPECT_EQ(r.commands.values.at("LINE (GROUPA)").clients.size(), 2u);
    EXPECT_EQ(r.commands.reports("C   (TOOLS)"), 1);
    EXPECT_EQ(r.commands.reports("FAKE"), 0);
    EXPECT_EQ(r.unknownCommands.reports("XYZ"), 1);

    EXPECT_EQ(r.scaling.reports("125"), 2);
    EXPECT_EQ(r.threads.reports("8"), 2);
    EXPECT_EQ(r.screenCounts.reports("2"), 2);
    EXPECT_EQ(r.operatingSystems.reports("Windows 10 [AMD64]"), 2);
    EXPECT_EQ(r.memory.reports("16384"), 2);
    EXPECT_EQ(r.resolutions.reports("1920 x 1080"), 2);
    EXPECT_EQ(r.resolutions.reports("2560 x 1440"), 1);
    EXPECT_EQ(r.rendererCore.reports("ACME GL"), 2);
    EXPECT_EQ(r.versionCore.reports("ACME:4.5"), 2);
    EXPECT_EQ(r.rendererCompatibility.reports("Soft"), 1);

    EXPECT_EQ(r.sessionsStarted, 2);
    EXPECT_EQ(r.sessionsEnded, 1);
    EXPECT_EQ(r.finished, 4);
    EXPECT_EQ(r.good, 2);
    EXPECT_EQ(r.bad, 2);
    EXPECT_EQ(r.badWithCrashReport, 1);
    EXPECT_EQ(r.badWithoutCrashReport, 1);
    ASSERT_TRUE(r.crashFreeRate());
    EXPECT_DOUBLE_EQ(*r.crashFreeRate(), 0.5);

    EXPECT_EQ(r.applications.at({"App SP2 x64", "1.0"}).clients.size(), 2u);
    EXPECT_EQ(r.applications.at({"Other", "2.0"}).hits, 1);

    const std::string text = formatReport(r);
    for (const char* expected :
         {"crash-free sessions: 50.0%", "finished 4: good 2, bad 2 (with crash report 1, without 1)",
          "started 2, ended 1", "       3        2  LINE (GROUPA)", "App SP2 x64 / 1.0", "Windows 10 [AMD64]",
          "1 rejected"})
        EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
}

TEST_F(ReportTest, EmptyDatabaseHasNoRate)
{
    const Report r = build();
    EXPECT_EQ(r.stored, 0);
    EXPECT_FALSE(r.crashFreeRate());
    EXPECT_NE(formatReport(r).find("no finished session reported yet"), std::string::npos);
}

} // namespace
} // namespace zncip::collector::test
