// The product team's pages as a person sees them: a real browser, driven through its DevTools protocol
// by browser/drive.js, signs in to the admin listener over a database of ten days of use by forty
// clients across versions, with a day without hits and days too thin for a crash-free rate, and clicks
// through every view; the self-contained page that `report --html` writes is loaded as a file. What the
// pages show must equal what the API says, and the charts must actually be drawn.

#include "admin/admin_server.h"
#include "app/cli.h"
#include "collector_fixture.h"
#include "report/html_report.h"

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QRegularExpression>
#include <QUrl>

#include <gtest/gtest.h>

#include <cmath>
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
constexpr int kDriverMs = 170000; // the driver gives up on itself after 150 s
constexpr int kEmptyDay = 4;      // no client used the program that day
constexpr int kChartsOfAllViews = 9;
// Strong pixels of a drawn chart: the crash-free chart of this data set is two weekly points.
constexpr int kDrawnPixels = 300;

// Ten days of use by forty clients, as the module reports it, none on the fifth day. Clients move from 1.0
// to 1.1 and then 2.0, each on a day of its own, and later versions crash more often, so the versions
// differ in every figure. On the last day two clients of 1.9 and 1.10 only run commands, with no session
// (a menu sorted as text puts 1.10 first). Some names carry markup, which the page must show as text.
std::vector<HitRecord> usageHits()
{
    static const char* const versions[] = {"1.0", "1.1", "2.0", "1.9", "1.10"};
    // clang-format off
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
                send("Commands", "Execute", "SAVE");
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

// A page as the browser left it once its script was done, and what it looked like. The browsers of all
// the pages run at once, each with a profile of its own.
struct Page
{
    std::string url, screenshotFile;
    std::unique_ptr<QProcess> browser;
    std::string dom;
    QImage screenshot;

    void open(const std::string& profile, int height = 1600)
    {
        browser = std::make_unique<QProcess>();
        browser->start(kChromium,
                       {"--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
                        QString::fromStdString("--user-data-dir=" + profile), "--virtual-time-budget=10000",
                        QString("--window-size=1280,%1").arg(height),
                        QString::fromStdString("--screenshot=" + screenshotFile), "--dump-dom",
                        QString::fromStdString(url)});
    }
    void wait()
    {
        const bool finished = browser->waitForFinished(120000);
        EXPECT_TRUE(finished) << url;
        if (!finished)
            browser->kill(), browser->waitForFinished(5000);
        dom = browser->readAllStandardOutput().toStdString();
        screenshot = QImage(QString::fromStdString(screenshotFile));
    }
};

// What a person reads in a piece of markup: the text, without tags, with entities resolved.
std::string text(QString html)
{
    html.remove(QRegularExpression("<[^>]*>"));
    html.replace("&lt;", "<").replace("&gt;", ">").replace("&quot;", "\"").replace("&nbsp;", " ");
    return html.replace("&amp;", "&").trimmed().toStdString();
}

using Rows = std::vector<std::vector<std::string>>;

// The body rows of the table the page names `name`, cell by cell.
Rows pageTable(const std::string& dom, const std::string& name)
{
    const QString html = QString::fromStdString(dom);
    const QRegularExpressionMatch table =
        QRegularExpression("<table data-table=\"" + QString::fromStdString(name) +
                               "\">.*?<tbody>(.*?)</tbody>",
                           QRegularExpression::DotMatchesEverythingOption)
            .match(html);
    Rows rows;
    if (!table.hasMatch())
        return {{"no table " + name}};
    auto tr = QRegularExpression("<tr>(.*?)</tr>", QRegularExpression::DotMatchesEverythingOption)
                  .globalMatch(table.captured(1));
    while (tr.hasNext())
    {
        rows.emplace_back();
        auto td = QRegularExpression("<td[^>]*>(.*?)</td>", QRegularExpression::DotMatchesEverythingOption)
                      .globalMatch(tr.next().captured(1));
        while (td.hasNext())
            rows.back().push_back(text(td.next().captured(1)));
    }
    return rows;
}

std::string figure(const std::string& dom, const std::string& name)
{
    const QRegularExpressionMatch m = QRegularExpression("data-figure=\"" + QString::fromStdString(name) +
                                                         "\"><span class=\"number\">(.*?)</span>")
                                          .match(QString::fromStdString(dom));
    return m.hasMatch() ? text(m.captured(1)) : "no figure " + name;
}

// A value as the page writes it: numbers grouped by thousands, rates as percent with one decimal.
std::string grouped(qint64 n)
{
    return QLocale(QLocale::English).toString(n).toStdString();
}
std::string cell(const QJsonValue& v, bool rate = false)
{
    if (rate)
        return v.isDouble() ? QString::number(v.toDouble() * 100, 'f', 1).toStdString() + "%" : "–";
    return v.isDouble() ? grouped(qint64(v.toDouble())) : v.toString().toStdString();
}

// The rows the API gives for a table, in the columns the page shows; "%" marks a rate.
Rows apiTable(const QJsonValue& table, const std::vector<std::string>& columns)
{
    Rows rows;
    for (const QJsonValue& row : table.toArray())
    {
        rows.emplace_back();
        for (std::string c : columns)
        {
            const bool rate = c[0] == '%';
            rows.back().push_back(
                cell(row.toObject().value(QString::fromStdString(rate ? c.substr(1) : c)), rate));
        }
    }
    return rows;
}

const std::vector<std::string> kTally = {"value", "reports", "clients"};
const std::vector<std::string> kDays = {"day",      "hits", "clients", "sessions_started",
                                        "finished", "good", "bad",     "%crash_free_rate"};

// Pixels of a strong colour in a part of a screenshot: the page itself is grey, the charts are not.
int saturatedPixels(const QImage& image, const QRect& part)
{
    int n = 0;
    for (int y = part.top(); y <= part.bottom(); ++y)
        for (int x = part.left(); x <= part.right(); ++x)
        {
            const QColor c = image.pixelColor(x, y);
            n += c.hsvSaturation() > 150 && c.value() > 100;
        }
    return n;
}

// Where the page says its charts are, within what the screenshot shows.
std::vector<QRect> chartBoxes(const std::string& dom, const QImage& screenshot)
{
    std::vector<QRect> boxes;
    auto m = QRegularExpression("data-box=\"(\\d+),(\\d+),(\\d+),(\\d+)\"")
                 .globalMatch(QString::fromStdString(dom));
    while (m.hasNext())
    {
        const QRegularExpressionMatch box = m.next();
        boxes.push_back(QRect(box.captured(1).toInt(), box.captured(2).toInt(), box.captured(3).toInt(),
                              box.captured(4).toInt()) &
                        screenshot.rect());
    }
    return boxes;
}

class Dashboard : public testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        dir_ = new TempDir;
        std::ofstream(dir_->file("admin-token")) << kToken << "\n";
        QFile::setPermissions(QString::fromStdString(dir_->file("admin-token")),
                              QFile::ReadOwner | QFile::WriteOwner);
        AdminConfig config;
        config.listenAddress = "127.0.0.1";
        config.port = 0;
        config.dbPath = dir_->file("hits.db");
        config.tokenFile = dir_->file("admin-token");
        openSqliteStore(config.dbPath)->append(usageHits());
        server_ = new AdminServer(config);
        server_->start();
    }
    static void TearDownTestSuite()
    {
        delete server_;
        delete dir_;
    }
    void SetUp() override
    {
        if (!QFile::exists(kChromium))
            GTEST_SKIP() << "no browser at " << kChromium;
    }
    static uint16_t port() { return server_->port(); }
    static std::string screenshots()
    {
        QDir().mkpath(ZNCIP_BUILD_DIR "/screenshots");
        return ZNCIP_BUILD_DIR "/screenshots";
    }

    static TempDir* dir_;
    static AdminServer* server_;
};

TempDir* Dashboard::dir_ = nullptr;
AdminServer* Dashboard::server_ = nullptr;

QJsonObject apiJson(uint16_t port, const std::string& path)
{
    const HttpResponse r = get(port, path, std::string("Authorization: Bearer ") + kToken + "\r\n");
    EXPECT_EQ(r.status, 200) << path;
    return QJsonDocument::fromJson(QByteArray::fromStdString(r.body)).object();
}

// A person's way through the pages, from a sign-in that keeps the filter asked for to a sign-out (see
// browser/drive.js for each check); the driver's every failed check is printed here.
TEST_F(Dashboard, APersonClicksThroughEveryView)
{
    if (!QFile::exists(QString(kDriver) + "/node_modules/puppeteer-core/package.json"))
        GTEST_SKIP() << "no puppeteer-core in " << kDriver << "/node_modules: ./zncip deps installs it";
    QProcess driver;
    driver.setWorkingDirectory(kDriver);
    driver.setProcessChannelMode(QProcess::MergedChannels);
    driver.start("node", {"drive.js", QString("http://127.0.0.1:%1").arg(port()),
                          QString::fromStdString(dir_->file("admin-token")),
                          QString::fromStdString(screenshots()), QString::fromStdString(dir_->file("profile"))});
    const bool finished = driver.waitForFinished(kDriverMs);
    if (!finished)
        driver.kill(), driver.waitForFinished(5000);
    const std::string output = driver.readAll().toStdString();
    EXPECT_TRUE(finished) << output;
    EXPECT_EQ(driver.exitStatus(), QProcess::NormalExit) << output;
    EXPECT_EQ(driver.exitCode(), 0) << output;
}

// The self-contained file that `report --html` writes shows every view, one below the other, from the
// data it carries, with no server behind it.
TEST_F(Dashboard, TheSelfContainedFileShowsEveryViewWithoutAServer)
{
    StoreOptions readOnly;
    readOnly.readOnly = true;
    const auto store = openSqliteStore(dir_->file("hits.db"), readOnly);
    std::ofstream(dir_->file("report.html"))
        << htmlReport(buildReport(store->rollups(Period{}), Period{}), store->versions(),
                      store->rejectedSamples(Period{}, 5));
    Page page{
        "file://" + dir_->file("report.html"), screenshots() + "/dashboard-report-html.png", nullptr, "", {}};
    page.open(dir_->file("profile-html"), 6400);
    page.wait();
    ASSERT_NE(page.dom.find("data-ready=\"1\""), std::string::npos) << page.dom.substr(0, 3000);

    const QJsonObject api = apiJson(port(), "/api/report");
    EXPECT_EQ(pageTable(page.dom, "commands"), apiTable(api.value("commands"), kTally));
    EXPECT_EQ(pageTable(page.dom, "days"), apiTable(api.value("days"), kDays));
    const std::vector<QRect> boxes = chartBoxes(page.dom, page.screenshot);
    EXPECT_EQ(boxes.size(), size_t(kChartsOfAllViews));
    for (const QRect& box : boxes)
        EXPECT_GT(saturatedPixels(page.screenshot, box), kDrawnPixels)
            << page.screenshotFile << ": the chart at " << box.y();
}

// Labels and rejected bodies that any client can send, written by `report --html` and opened in the
// browser, a page for each label since one hostile label can undo another: each page still comes up
// with its figures and shows the texts as text, and its CSV download is the collector's, formulas guarded.
TEST_F(Dashboard, TheSelfContainedFileShowsHostileLabelsAsText)
{
    const std::string labels[] = {"<!--<script>", "</script><script>document.body.remove()</script>",
                                  "line\u2028paragraph\u2029end", "<script" + std::string(400, 'x'), "=1+2"};
    const std::string formula = labels[4];
    TempDir dir;
    std::vector<Page> pages;
    std::vector<QJsonObject> reports;
    std::vector<size_t> accepted;
    for (const std::string& label : labels)
    {
        const std::string name = "hostile-" + std::to_string(pages.size());
        std::vector<HitRecord> hits;
        const auto add = [&](const std::string& body, bool isAccepted)
        {
            HitRecord h;
            h.receivedUs = (int64_t{kFirstDay} * 86400 + static_cast<int64_t>(hits.size())) * 1000000;
            h.path = "/collect";
            h.body = body;
            h.accepted = isAccepted;
            h.reason = isAccepted ? "" : label;
            hits.push_back(h);
        };
        add(moduleEvent("Session", "Start", ""), true);
        add(moduleEvent("Commands", "Execute", QUrl::toPercentEncoding(QString::fromStdString(label)).toStdString()),
            true);
        add(moduleEvent("Commands", "Execute", "SAVE"), true);
        for (int i = 0; i < 4; ++i)
            add("<script" + std::string(8000, static_cast<char>('a' + i)), false);
        openSqliteStore(dir.file(name + ".db"))->append(hits);
        std::ostringstream out, err;
        ASSERT_EQ(runCli({"report", "--db", dir.file(name + ".db"), "--html", dir.file(name + ".html")}, out, err), 0)
            << err.str();
        StoreOptions readOnly;
        readOnly.readOnly = true;
        const auto store = openSqliteStore(dir.file(name + ".db"), readOnly);
        reports.push_back(QJsonDocument::fromJson(QByteArray::fromStdString(reportJson(buildReport(store->rollups({}), {}))))
                              .object());
        accepted.push_back(hits.size() - 4);
        pages.push_back({"file://" + dir.file(name + ".html"), screenshots() + "/dashboard-report-" + name + ".png",
                         nullptr, "", {}});
        pages.back().open(dir.file("profile-" + name), 4800);
    }
    for (size_t i = 0; i < pages.size(); ++i)
    {
        Page& page = pages[i];
        page.wait();
        SCOPED_TRACE(labels[i].substr(0, 60));
        if (page.dom.find("data-ready=\"1\"") == std::string::npos)
        {
            ADD_FAILURE() << "the page never became ready: " << page.dom.substr(0, 3000);
            continue;
        }
        EXPECT_EQ(figure(page.dom, "hits"), std::to_string(accepted[i]));
        EXPECT_EQ(figure(page.dom, "sessions_started"), "1");
        const Rows commands = pageTable(page.dom, "commands");
        EXPECT_EQ(commands, apiTable(reports[i].value("commands"), kTally));
        EXPECT_EQ(commands.size(), 2u);
        EXPECT_EQ(pageTable(page.dom, "samples").size(), 4u);

        const QRegularExpressionMatch csv =
            QRegularExpression("href=\"data:text/csv;charset=utf-8,([^\"]*)\" download=\"commands.csv\"")
                .match(QString::fromStdString(page.dom));
        ASSERT_TRUE(csv.hasMatch());
        if (labels[i] == formula)
        {
            EXPECT_NE(QUrl::fromPercentEncoding(csv.captured(1).toUtf8()).toStdString().find("\r\n'=1+2,1,1\r\n"),
                      std::string::npos)
                << csv.captured(1).toStdString();
        }
    }
}

} // namespace
} // namespace zncip::collector::test
