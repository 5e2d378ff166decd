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
