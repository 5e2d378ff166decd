// The writers of the report and of the export: what they make of hits that came in through the server,
// and of what any client can send that is meant to spoil a report (break the page, run in a spreadsheet,
// steer a terminal, swell an answer).

#include "app/cli.h"
#include "collector_fixture.h"
#include "czncipeventtexts.h"
#include "report/csv.h"
#include "report/event_vocabulary.h"
#include "report/html_report.h"
#include "report/replace_file.h"
#include "report/report.h"
#include "report/report_views.h"

#include <gtest/gtest.h>

#include <QUrl>

#include <array>
#include <fstream>
#include <regex>
#include <sstream>

namespace zncip::collector::test
{
namespace
{

std::string runCommand(const std::string& command, const std::string& db)
{
    std::ostringstream out, err;
    EXPECT_EQ(runCli({command, "--db", db}, out, err), 0) << err.str();
    return out.str();
}

const std::string kAlice = "alice", kBob = "bob";

// Hits of a few runs of the module and some that are not, posted through the server, then read back
// whole by `export` and `report`.
TEST(GoldenDatabase, ExportAndReport)
{
    std::vector<std::string> bodies = {
        moduleEvent("Commands", "Execute", "C++%20(TOOLS)", kBob), // '+' unencoded: reads as blanks
        "v=1&cid=mallory&t=event&%1B[2J=&%1B[2J=",                 // rejected: its client is not counted
        // What a client sends reaches no terminal as it is: no escape sequences, no line of its own.
        moduleEvent("Commands", "Execute", "X%1B[2J%0AHits:%2099999%20stored%C2%9B%C2%A0", kBob),
        std::string("v=1&el=a\0b\"\\", 12), "v=\xFF\x01"};
    // Sessions and commands of "A" Alice, "B" Bob or both.
    const std::array<const char*, 4> events[] = {
        {"AB", "Session", "Start", ""},       {"AB", "Commands", "Execute", "LINE%20(A)"},
        {"A", "Session", "Good", "Good"},     {"A", "Session", "Global", "Global"},
        {"A", "Session", "End", ""},          {"A", "Commands", "Execute", "LINE%20(A)"},
        {"B", "Session", "Global", "Global"}, {"A", "Unknown%20Commands", "Execute", "XYZ"},
        {"B", "Session", "Bad", "Bad"},       {"B", "Session", "Bad", "With_Crash_Report"}};
    for (const auto& [who, category, action, label] : events)
        for (const char client : std::string(who))
            bodies.push_back(moduleEvent(category, action, label, client == 'A' ? kAlice : kBob));
    // Each fact, reported by both, and the table of the report that counts it.
    const std::array<const char*, 4> facts[] = {
        {"System", "OS", "W10[AMD64]", "Operating systems"},
        {"System", "Memory", "16384", "Physical memory (MiB)"},
        {"System", "DPI", "125", "Screen scaling (%)"},
        {"System", "Thread%20Count", "8", "Processor threads"},
        {"System", "Screen%20Count", "2", "Screens"},
        {"Screen", "Resolution", "1920x1080", "Screen resolutions"},
        {"OpenGL", "Renderer%20CORE", "GL", "OpenGL renderers (core profile)"},
        {"OpenGL", "Version%20CORE", "ACME:4.5", "OpenGL vendor:version (core profile)"},
        {"OpenGL", "Renderer%20COMPATIBILITY", "Soft", "OpenGL renderers (compatibility profile)"}};
    std::string factTables;
    for (const auto& [category, action, value, title] : facts)
    {
        bodies.push_back(moduleEvent(category, action, value, kAlice));
        bodies.push_back(moduleEvent(category, action, value, kBob));
        factTables += std::string("\n") + title + "\n     reports  clients  value\n           2        2  " +
                      value + "\n";
    }
    bodies.push_back("v=1&tid=UA-1-1&cid=" + kAlice +
                     "&t=event&an=Other&av=2.0&ec=Commands&ea=Execute&el=OTHER");

    RunningServer s;
    for (const std::string& body : bodies)
    {
        const HttpResponse r = post(s.port(), "/collect", body);
        ASSERT_EQ(r.status, 200) << body;
        EXPECT_EQ(r.header("Content-Type") + " " + r.body.substr(0, 6) + std::to_string(r.body.size()),
                  "image/gif GIF89a35");
    }

    std::string exported = runCommand("export", s.db());
    EXPECT_EQ(std::count(exported.begin(), exported.end(), '\n'), static_cast<long>(bodies.size()));
    exported.erase(exported.find("\n{\"id\":6,"));
    // The time of arrival, as 2024-05-01T12:00:00.123456Z, is the one field that differs between runs.
    for (size_t at = 0; (at = exported.find("\"received\":\"", at)) != std::string::npos; at += 12)
        exported.replace(at + 12, 27, "T");
    const std::string ua = R"j(,"user_agent":"App SP2 x64/1.0 (WIN; en_US) Ostrevan/1.0 (Qt/5.12.3)"})j";
    const std::string accepted =
        R"j(,"received":"T","path":"/collect","accepted":true,"reason":null,"params":[["v","1"],)j"
        R"j(["tid","UA-582047-16"],["cid","bob"],["t","event"],["ul","en-us"],["qt","1"],)j"
        R"j(["an","App SP2 x64"],["av","1.0"],["ec","Commands"],["ea","Execute"],["el",")j";
    EXPECT_EQ(
        exported,
        R"j({"id":1)j" + accepted + R"j(C   (TOOLS)"],["ev","1"]],"body":")j" + bodies[0] + "\"" + ua + "\n" +
            R"j({"id":2,"received":"T","path":"/collect","accepted":false,"reason":"\u001b[2J: the parameter )j"
            R"j(appears more than once; tid: a value is required; ec: a value is required; ea: a value is )j"
            R"j(required","params":[["v","1"],["cid","mallory"],["t","event"],["\u001b[2J",""],["\u001b[2J",""]],)j"
            R"j("body":"v=1&cid=mallory&t=event&%1B[2J=&%1B[2J=")j" +
            ua + "\n" + R"j({"id":3)j" + accepted +
            R"j(X\u001b[2J\nHits: 99999 stored)j"
            "\xC2\x9B\xC2\xA0"
            R"j("],["ev","1"]],"body":")j" +
            bodies[2] + "\"" + ua + "\n" +
            R"j({"id":4,"received":"T","path":"/collect","accepted":false,"reason":"tid: a value is required; )j"
            R"j(cid: a client identifier (or a user identifier) is required; t: a value is required",)j"
            R"j("params":[["v","1"],["el","a\u0000b\"\\"]],"body":"v=1&el=a\u0000b\"\\")j" +
            ua + "\n" +
            R"j({"id":5,"received":"T","path":"/collect","accepted":false,"reason":"a decoded name or value is not )j"
            R"j(valid UTF-8; v: the protocol version must be 1; tid: a value is required; cid: a client identifier )j"
            "(or a user identifier) is required; t: a value is "
            "required\",\"params\":[[\"v\",\"\xEF\xBF\xBD\\u0001\"]],"
            R"j("body_base64":"dj3/AQ==")j" +
            ua);

    // The day they arrived is the one part of the report that differs between runs.
    const std::string report =
        std::regex_replace(runCommand("report", s.db()), std::regex("[0-9]{4}-[0-9]{2}-[0-9]{2}"), "DAY");
    EXPECT_EQ(report, R"r(Hits: 36 stored, 33 accepted, 3 rejected
Distinct clients: 2
Days: DAY to DAY

Rejected hits by reason
           1  \x1b[2J: the parameter appears more than once; tid: a value is required; ec: a value is required; ea: a value is required
           1  a decoded name or value is not valid UTF-8; v: the protocol version must be 1; tid: a value is required; cid: a client identifier (or a user identifier) is required; t: a value is required
           1  tid: a value is required; cid: a client identifier (or a user identifier) is required; t: a value is required

Applications
        hits  clients  name / version
          32        2  App SP2 x64 / 1.0
           1        1  Other / 2.0

Sessions
    started 2, ended 1
    finished 2: good 1, bad 1 (with crash report 1, without 0)
    crash-free sessions: 50.0%

Per day
    day            hits  clients  started finished   good    bad  crash-free
    DAY       33        2        2        2      1      1  50.0%

Per version
    version       started finished   good    bad  crash-free
    1.0                 2        2      1      1  50.0%

Commands
     reports  clients  value
           3        2  LINE (A)
           1        1  C   (TOOLS)
           1        1  OTHER
           1        1  X\x1b[2J\x0aHits: 99999 stored\x9b)r"
                                            "\xC2\xA0"
                                            R"r(

Unknown commands
     reports  clients  value
           1        1  XYZ
)r" + factTables + R"r(
OpenGL vendor:version (compatibility profile)
     reports  clients  value
    (none)
)r");
}


// A report whose commands are these labels, one report and one client each, with its rejected hits'
// bodies the same texts.
Report reportOf(const std::vector<std::string>& labels)
{
    Report r;
    for (const std::string& label : labels)
        r.commands.values[label] = {1, 1};
    return r;
}

StoredHit hit(const std::string& body, bool accepted)
{
    StoredHit h;
    h.receivedUs = accepted ? 1 : 2;
    h.path = "/collect";
    h.body = body;
    h.accepted = accepted;
    h.reason = accepted ? "" : "bad";
    return h;
}

std::vector<StoredHit> samplesOf(const std::vector<std::string>& labels)
{
    std::vector<StoredHit> samples;
    for (const std::string& body : labels)
        samples.push_back(hit(body, false));
    return samples;
}

using Labels = std::vector<std::string>;
std::string page(const Labels& labels)
{
    return htmlReport(reportOf(labels), {"1.0"}, samplesOf(labels));
}
std::string text(const Labels& labels)
{
    return formatReport(reportOf(labels));
}
std::string json(const Labels& labels)
{
    return reportJson(reportOf(labels));
}
std::string apiCsv(const Labels& labels)
{
    return reportCsv(reportOf(labels), "commands").value_or("no table");
}
// `report --html` over a database that holds the labels as commands and as rejected bodies, into a file
// that held an older report.
std::string pageFile(const std::vector<std::string>& labels)
{
    TempDir dir;
    std::vector<HitRecord> hits;
    for (const std::string& label : labels)
    {
        hits.push_back(hit(moduleEvent("Commands", "Execute",
                                       QUrl::toPercentEncoding(QString::fromStdString(label)).toStdString()),
                           true));
        hits.push_back(hit(label, false));
    }
    openSqliteStore(dir.file("hits.db"))->append(hits);
    std::ofstream(dir.file("report.html")) << "an older report";
    std::ostringstream out, err;
    const int code = runCli({"report", "--db", dir.file("hits.db"), "--html", dir.file("report.html")}, out, err);
    std::ifstream in(dir.file("report.html"));
    return "exit " + std::to_string(code) + " " + err.str() + std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> numbered(int n)
{
    std::vector<std::string> labels;
    for (int i = 0; i < n; ++i)
        labels.push_back("L" + std::to_string(1000 + i).substr(1));
    return labels;
}

// Each row: what a hostile client sends, the writer, a text its output must hold and one it must not.
TEST(ReportWriters, HostileInputTable)
{
    const std::string run(100000, 'a'), body(8000, 'b');
    const std::string longScript = "<script" + run, longBody = "<script" + body;
    struct Row
    {
        const char* fault;
        std::vector<std::string> labels;
        std::string (*write)(const std::vector<std::string>&);
        std::string expected, forbidden;
    };
    // clang-format off
    const Row rows[] = {
        {"a search over the page's data overflows the stack", {longScript}, page, "\\u003cscript" + run, "<script" + run},
        {"the process dies and leaves an empty file", {longBody, longBody + "c", longBody + "d", longBody + "e"},
         pageFile, "\\u003cscript" + body, "an older report"},
        {"a comment opener keeps the data element open", {"<!--<script>"}, page, "\\u003c!--\\u003cscript\\u003e", "<!--"},
        {"an end tag closes the data element", {"</script><script>alert(1)</script>"}, page,
         "\\u003c/script\\u003e\\u003cscript\\u003e", "</script><script>alert"},
        {"the page loads a file from elsewhere", {"x"}, page, "id=\"zncip-data\"", "/static/"},
        {"a line separator ends a script's string", {"a\u2028b\u2029c"}, page, "a\\u2028b\\u2029c", "\u2028"},
        {"the page's CSV carries a formula", {"=1+2", "@SUM(A1)"}, page, "'=1+2,1,1\\r\\n'@SUM(A1),1,1\\r\\n", ""},
        {"a bidirectional override reorders the terminal's line", {"a\u202Eb\u2066c\u2069"}, text,
         "a\\u202eb\\u2066c\\u2069", "\u202E"},
        {"a zero-width character hides in a name", {"x\u200By\uFEFFz\u2060"}, text, "x\\u200by\\ufeffz\\u2060", "\u200B"},
        {"a long label is cut within a character", {std::string(400, '\x01') + "\u00e4\u00e4"}, text, "\\x01\u00e4\u00e4\n", ""},
        {"every distinct label is answered", numbered(150), json,
         R"("L099","reports":1,"clients":1},{"value":null,"reports":50,"clients":null,"values":50}])", "L100"},
        {"downloading is the way to see every label", numbered(150), apiCsv, "L149,1,1\r\n", ""},
    };
    // clang-format on
    for (const Row& row : rows)
    {
        const std::string out = row.write(row.labels);
        EXPECT_NE(out.find(row.expected), std::string::npos) << row.fault << ": " << out.substr(0, 300);
        if (!row.forbidden.empty())
        {
            EXPECT_EQ(out.find(row.forbidden), std::string::npos) << row.fault;
        }
    }
}

// A week from Wednesday 2024-10-02: its spans and their distinct clients as the rollups would give them,
// versions with too few sessions or clients for a rate, more commands than a top list shows, memory
// sizes on and beside the edges of whole GiB.
Report viewsReport()
{
    using S = Rollups::Span;
    Report r = reportOf(numbered(12));
    r.clients = 7;
    r.compared = Rollups::ComparedDays{19991, 19998, 20004};
    r.activeClients = {{{S::Week, 19998}, 5},  {{S::Week, 20003}, 4},  {{S::Week, 19991}, 3},
                       {{S::Month, 19998}, 7}, {{S::Month, 19991}, 2}, {{S::Whole, 19998}, 7},
                       {{S::Whole, 19991}, 5}};
    r.applications[{"App", "1.9"}] = {40, 30};
    r.applications[{"App", "1.10"}] = {5, 1};
    r.applications[{"App", "2.0"}] = {60, 10};
    r.versions["1.9"].good = 29;
    r.versions["2.0"] = {0, 0, 0, 27, 3, 2, 1};
    r.badClients = {{"1.9", 3}, {"2.0", 1}};
    Report::Day& day = r.days[19998];
    day.usage.clients = 4;
    day.versions["1.9"].usage.clients = 3;
    day.versions["1.9"].sessions.good = 29;
    day.versions["2.0"].usage.clients = 1;
    r.memory.values = {{"8000", {2, 2}}, {"8192", {1, 1}}, {"4095.9", {1, 1}}, {"lots", {1, 1}}};
    return r;
}

TEST(ReportViews, DerivedFiguresTable)
{
    const Report r = viewsReport();
    struct Row
    {
        const char* fault;
        std::string table; // a CSV, or the JSON
        std::string expected;
    };
    // clang-format off
    const Row rows[] = {
        {"a partial week not marked, or the previous period not the days just before", "active_clients",
         "week,2024-10-02,2024-10-06,partial,5,2024-09-25,2024-09-29,partial,3\r\n"
         "week,2024-10-07,2024-10-08,partial,4,2024-09-30,2024-10-01,partial,0\r\n"
         "month,2024-10-02,2024-10-08,partial,7,2024-09-25,2024-09-30,partial,2\r\nmonth,,,,,2024-10-01,2024-10-01,partial,0\r\n"},
        {"the change against the previous period", "json", R"("clients":7,"previous_clients":5,"change":0.4,)"},
        {"a rate under 30 sessions or clients", "release_health", "1.9,29,,30,3,0.9,0,0\r\n1.10,0,,1,0,,0,0\r\n2.0,30,0.9,10,1,,2,1\r\n"},
        {"a version without sessions left out, or 1.10 before 1.9", "versions",
         "1.9,40,0,0,29,0,1\r\n1.10,5,0,0,0,0,\r\n2.0,60,0,0,27,3,0.9\r\n"},
        {"the other row not summing what the top leaves out", "top_commands",
         "L009,1,0.0833333,1,0.142857\r\n2 other values,2,0.166667,,\r\n"},
        {"a size on an edge of whole GiB in the bucket below", "memory_gib",
         "< 4 GiB,1,1\r\n4–8 GiB,2,2\r\n8–16 GiB,1,1\r\n16–32 GiB,0,0\r\n32–64 GiB,0,0\r\n≥ 64 GiB,0,0\r\nUnknown,1,1\r\n"},
        {"a day without clients drawn as none adopted", "json", R"({"version":"1.9","share":[0.75,null,null,null,null,null,null]})"},
        {"a daily chart of days too thin for a rate", "json",
         R"("weekly":true,"spans":[{"start":"2024-10-02","end":"2024-10-06"},{"start":"2024-10-07","end":"2024-10-08"}],)"
         R"("series":[{"version":"1.9","rates":[null,null],"sessions":[29,0]})"},
    };
    // clang-format on
    for (const Row& row : rows)
    {
        const std::string out =
            row.table == "json" ? reportJson(r) : reportCsv(r, row.table).value_or("no table");
        EXPECT_NE(out.find(row.expected), std::string::npos) << row.fault << ":\n" << out.substr(0, 2000);
    }

    // The period compared: an open end closed at the days stored (100 to 120), a period too long cut to them.
    const std::pair<Period, std::array<int32_t, 3>> periods[] = {{{110, 116, {}}, {103, 110, 116}},
                                                                 {{}, {79, 100, 120}},
                                                                 {{INT32_MIN, 105, {}}, {94, 100, 105}},
                                                                 {{0, 100000, {}}, {79, 100, 120}}};
    Rollups stored;
    stored.coverDays(100, 120);
    for (const auto& [period, days] : periods)
    {
        const auto compared = stored.comparedDaysOf(period);
        ASSERT_TRUE(compared);
        EXPECT_EQ((std::array{compared->previousFrom, compared->from, compared->to}), days) << period.from;
    }
}

// The report counts events by the texts the module sends; the two sides keep their own copies.
TEST(ReportWriters, ReadTheEventsAsTheModuleSpellsThem)
{
    namespace v = vocabulary;
    namespace m = ZnCIPEventTexts;
    // clang-format off
    const std::pair<std::string_view, std::string_view> texts[] = {
        {v::kEventHit, m::eventHit}, {v::kCommands, m::commands}, {v::kUnknownCommands, m::unknownCommands},
        {v::kSystem, m::system}, {v::kOperatingSystem, m::os}, {v::kMemory, m::memory}, {v::kScaling, m::dpi},
        {v::kThreadCount, m::threadCount}, {v::kScreenCount, m::screenCount}, {v::kScreen, m::screen},
        {v::kResolution, m::resolution}, {v::kOpenGL, m::openGL}, {v::kRendererCore, m::rendererCore},
        {v::kVersionCore, m::versionCore}, {v::kRendererCompatibility, m::rendererCompatibility},
        {v::kVersionCompatibility, m::versionCompatibility}, {v::kSession, m::session}, {v::kStart, m::start},
        {v::kEnd, m::end}, {v::kFinished, m::global}, {v::kGood, m::good}, {v::kBad, m::bad},
        {v::kWithCrashReport, m::withCrashReport}, {v::kWithoutCrashReport, m::withoutCrashReport}};
    // clang-format on
    for (const auto& [collector, module] : texts)
        EXPECT_EQ(collector, module);
}

// What cannot be replaced is left as it was, with nothing beside it; that a file is replaced whole is the
// hostile table's "empty file" row.
TEST(ReportWriters, WhatCannotBeReplacedIsLeftAlone)
{
    TempDir dir;
    QDir().mkpath(QString::fromStdString(dir.file("a folder")));
    const auto error = replaceFile(dir.file("a folder"), "newer");
    ASSERT_TRUE(error.has_value());
    EXPECT_NE(error->find("cannot replace " + dir.file("a folder")), std::string::npos) << *error;
    const QDir folder(QString::fromStdString(dir.path()));
    EXPECT_EQ(
        folder.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).join(", ").toStdString(),
        "a folder");
}

} // namespace
} // namespace zncip::collector::test
