// The product team's pages as a person sees them: a real browser, driven through its DevTools protocol
// by browser/drive.js, signs in to the admin listener over a database of ten days of use by forty
// clients across versions, with a day without hits and days too thin for a crash-free rate, and clicks
// through every view; it also opens the self-contained page that `report --html` writes from the same
// database, as a file. What the pages show must equal what the API says, and the charts must be drawn.

#include "admin/admin_server.h"
#include "app/cli.h"
#include "collector_fixture.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>

namespace zncip::collector::test
{
namespace
{

constexpr int32_t kFirstDay = 20000; // 2024-10-04
const char* const kChromium = "/usr/bin/chromium";
const char kToken[] = "dashboard-test-token-0123456789";
const char kDriver[] = ZNCIP_SOURCE_DIR "/tests/collector/report/browser";
constexpr int kDriverMs = 260000; // the driver gives up on itself after 240 s
constexpr int kEmptyDay = 4;      // no client used the program that day

// Ten days of use by forty clients, as the module reports it, none on the fifth day. Clients move from 1.0
// to 1.1 and then 2.0, each on a day of its own, and later versions crash more often, so the versions
// differ in every figure. On the last day two clients of 1.9 and 1.10 only run commands, with no session
// (a menu sorted as text puts 1.10 first); the one of 1.10 runs commands any client could name, meant to
// break the page, to run in a spreadsheet, or to undo one another, which the pages must show as text.
std::vector<HitRecord> usageHits()
{
    static const char* const versions[] = {"1.0", "1.1", "2.0", "1.9", "1.10"};
    // clang-format off
    static const char* const hostile[] = {"%3C!--%3Cscript%3E", "%3C%2Fscript%3E%3Cscript%3Edocument.body.remove()%3C%2Fscript%3E",
                                          "line%E2%80%A8paragraph%E2%80%A9end", "%3D1%2B2"};
    static const char* const commands[] = {"LINE%20(DRAW)", "CIRCLE%20(DRAW)", "MOVE%20(MODIFY)", "COPY%20(MODIFY)",
                                           "TRIM%20(MODIFY)", "OFFSET", "HATCH", "DIM%20(ANNOTATE)", "SAVE", "UNDO",
                                           "A%26B%20%3Cb%3Ex%3C%2Fb%3E", "ZOOM", "PAN", "ERASE", "EXPLODE", "FILLET",
                                           "CHAMFER", "MIRROR", "ROTATE", "SCALE"};
    // clang-format on
    static const char* const machines[][7] = {
        {"W10[AMD64]", "16384", "100", "8", "1", "1920x1080", "Mesa%20Intel(R)%20UHD"},
        {"W11[AMD64]", "32768", "125", "16", "2", "2560x1440", "NVIDIA%20GeForce%20RTX%203060"},
        {"W10[AMD64]", "8000", "150", "4", "1", "1366x768", "AMD%20Radeon%20Vega%208"},
        {"W11[AMD64]", "65536", "100", "32", "3", "3840x2160", "NVIDIA%20RTX%20A4000"},
        {"W7[X86]", "3072", "100", "2", "1", "1280x1024", "GDI%20Generic"}};
    std::mt19937 random(11);
    const auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    std::vector<HitRecord> hits;
    for (int d = 0; d < 10; ++d)
        for (int c = 0; c < (d == 9 ? 42 : 40); ++c)
        {
            if (d == kEmptyDay || (c < 40 && pick(10) < 3))
                continue; // not used that day
            const int version =
                c >= 40 ? c - 37 : d >= 3 + c % 6 && c % 5 != 0 ? (d >= 6 + c % 4 && c % 3 != 0 ? 2 : 1) : 0;
            const std::string cid = "00000000-0000-4000-8000-" + std::to_string(100000000000 + c);
            int64_t at = (int64_t{kFirstDay + d} * 86400 + 8 * 3600 + c * 60) * 1000000;
            const auto send = [&](const char* category, const char* action, const std::string& label)
            {
                HitRecord h;
                h.receivedUs = at += 1000000;
                h.path = "/batch";
                h.body = moduleEvent(category, action, label, cid);
                h.body.replace(h.body.find("&av=1.0"), 7, std::string("&av=") + versions[version]);
                h.accepted = true;
                hits.push_back(h);
            };
            if (c >= 40)
            {
                if (c == 40)
                    send("Commands", "Execute", "SAVE");
                else
                    for (const char* label : hostile)
                        send("Commands", "Execute", label);
                continue;
            }
            send("Session", "Start", "");
            const char* const* m = machines[c % 5];
            // clang-format off
            const char* facts[][2] = {{"System", "OS"}, {"System", "Memory"}, {"System", "DPI"},
                                      {"System", "Thread%20Count"}, {"System", "Screen%20Count"},
                                      {"Screen", "Resolution"}, {"OpenGL", "Renderer%20CORE"}};
            // clang-format on
            for (int f = 0; f < 7; ++f)
                send(facts[f][0], facts[f][1], m[f]);
            send("OpenGL", "Version%20CORE", c % 2 ? "NVIDIA:4.6" : "Intel:4.5");
            if (c % 3 == 0)
                send("OpenGL", "Renderer%20COMPATIBILITY", m[6]),
                    send("OpenGL", "Version%20COMPATIBILITY", "GL:2.1");
            for (int n = 1 + pick(8); n > 0; --n)
                send("Commands", "Execute", commands[pick(pick(2) ? 4 : 20)]);
            if (pick(4) == 0)
                send("Unknown%20Commands", "Execute", pick(2) ? "MYLISP" : "%3Cscript%3EX");
            // Some runs are never reported as finished (killed, say), so that started and finished differ.
            if (pick(6) != 0)
            {
                send("Session", "Global", "Global");
                if (pick(20) < 1 + version * 3)
                    send("Session", "Bad", pick(2) ? "With_Crash_Report" : "Without_Crash_Report"),
                        send("Session", "Bad", "Bad");
                else
                    send("Session", "Good", "Good");
            }
            send("Session", "End", "");
            if (pick(8) == 0)
            {
                HitRecord r;
                r.receivedUs = at += 1000000;
                r.path = "/collect";
                r.body = pick(2) ? "v=1&cid=" + cid + "&t=event" : "v=2&%3Cb%3E=1";
                r.reason = pick(2) ? "tid: a value is required" : "<b>v</b>: unsupported protocol version";
                hits.push_back(r);
            }
        }
    return hits;
}

// A person's way through the pages, from a sign-in that keeps the filter asked for to a sign-out, and
// through the self-contained page (see browser/drive.js for each check); the driver's every failed check
// is printed here.
TEST(Dashboard, APersonClicksThroughEveryView)
{
    if (!QFile::exists(kChromium))
        GTEST_SKIP() << "no browser at " << kChromium;
    if (!QFile::exists(QString(kDriver) + "/node_modules/puppeteer-core/package.json"))
        GTEST_SKIP() << "no puppeteer-core in " << kDriver << "/node_modules: ./zncip deps installs it";
    TempDir dir;
    std::ofstream(dir.file("admin-token")) << kToken << "\n";
    QFile::setPermissions(QString::fromStdString(dir.file("admin-token")),
                          QFile::ReadOwner | QFile::WriteOwner);
    AdminConfig config;
    config.listenAddress = "127.0.0.1";
    config.port = 0;
    config.dbPath = dir.file("hits.db");
    config.tokenFile = dir.file("admin-token");
    openSqliteStore(config.dbPath)->append(usageHits());
    std::ostringstream out, err;
    ASSERT_EQ(runCli({"report", "--db", config.dbPath, "--html", dir.file("report.html")}, out, err), 0)
        << err.str();
    AdminServer server(config);
    server.start();

    QProcess driver;
    driver.setWorkingDirectory(kDriver);
    driver.setProcessChannelMode(QProcess::MergedChannels);
    driver.start("node", {"drive.js", QString("http://127.0.0.1:%1").arg(server.port()),
                          QString::fromStdString(config.tokenFile), ZNCIP_BUILD_DIR "/screenshots",
                          QString::fromStdString(dir.file("profile")),
                          QString::fromStdString(dir.file("report.html"))});
    const bool finished = driver.waitForFinished(kDriverMs);
    if (!finished)
        driver.kill(), driver.waitForFinished(5000);
    const std::string output = driver.readAll().toStdString();
    EXPECT_TRUE(finished) << output;
    EXPECT_EQ(driver.exitStatus(), QProcess::NormalExit) << output;
    EXPECT_EQ(driver.exitCode(), 0) << output;
}

} // namespace
} // namespace zncip::collector::test
