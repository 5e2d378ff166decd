// Who may read the admin pages and their API, what every answer carries, and that nothing of them is
// reachable on the collection port. The pages themselves are tested in a browser elsewhere.

#include "admin/admin_server.h"
#include "collector_fixture.h"
#include "report/html_report.h"
#include "report/report.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <ifaddrs.h>

#include <fstream>

namespace zncip::collector::test
{
namespace
{

const std::string kToken = "0123456789abcdef-admin"; // 22 characters

// The first IPv4 address of this machine that is not loopback; empty when it has none.
std::string outsideAddress()
{
    ifaddrs* all = nullptr;
    std::string found;
    if (getifaddrs(&all) != 0)
        return found;
    for (const ifaddrs* i = all; i && found.empty(); i = i->ifa_next)
        if (i->ifa_addr && i->ifa_addr->sa_family == AF_INET)
        {
            char text[INET_ADDRSTRLEN];
            inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr, text, sizeof text);
            if (std::string(text).rfind("127.", 0) != 0)
                found = text;
        }
    freeifaddrs(all);
    return found;
}

struct Admin
{
    TempDir dir;
    AdminConfig config;
    std::unique_ptr<AdminServer> server;

    explicit Admin(const std::string& token, const std::string& listen = "127.0.0.1")
    {
        config.dbPath = dir.file("hits.db");
        openSqliteStore(config.dbPath)->append({HitRecord{0, "/collect", moduleEvent("Commands", "Execute", "LINE"),
                                                          true, "", "UA", {}}});
        if (!token.empty())
        {
            config.tokenFile = dir.file("token");
            std::ofstream(config.tokenFile) << token << "\n";
        }
        config.listenAddress = listen;
        config.port = 0;
        server = std::make_unique<AdminServer>(config);
        server->start();
    }
    HttpResponse get(const std::string& path, const std::string& headers = "") const
    {
        return test::get(server->port(), path, headers);
    }
};

TEST(Admin, WithATokenOnlyItsHoldersGetIn)
{
    Admin admin(kToken);
    const std::string bearer = "Authorization: Bearer ";
    const std::tuple<std::string, std::string, int> cases[] = {
        {"/api/report", "", 401},
        {"/api/report", bearer + "\r\n", 401},
        {"/api/report", bearer + "0123456789abcdef-admiN\r\n", 401},      // one character off
        {"/api/report", bearer + "0123456789abcdef-admin2\r\n", 401},     // longer
        {"/api/report", bearer + "0123456789abcdef-admi\r\n", 401},       // a prefix
        {"/api/report", "Cookie: zncip_admin=0123456789abcdef\r\n", 401}, // a prefix as the cookie
        {"/commands", "", 303},                                           // a page sends to the sign-in form
        {"/static/app.js", "", 303},
        {"/login", "", 200},
        {"/api/report", bearer + kToken + "\r\n", 200},
        {"/api/versions", "Cookie: zncip_admin=" + kToken + "\r\n", 200},
        {"/commands", bearer + kToken + "\r\n", 200},
        {"/api/csv/commands", bearer + kToken + "\r\n", 200},
        {"/api/csv/versions", bearer + kToken + "\r\n", 200},
        {"/api/csv/no_such_table", bearer + kToken + "\r\n", 404},
        {"/api/report?from=2026-02-30", bearer + kToken + "\r\n", 400}};
    for (const auto& [path, headers, status] : cases)
    {
        const HttpResponse r = admin.get(path, headers);
        EXPECT_EQ(r.status, status) << path << " " << headers;
        // Every answer, refusals included, forbids inline script, sniffing and caching.
        EXPECT_NE(r.header("Content-Security-Policy").find("script-src 'self';"), std::string::npos) << r.head;
        EXPECT_EQ(r.header("Content-Security-Policy").find("unsafe"), std::string::npos);
        EXPECT_EQ(r.header("X-Content-Type-Options") + " " + r.header("Cache-Control"), "nosniff no-store");
    }
    EXPECT_EQ(admin.get("/api/csv/commands", bearer + kToken + "\r\n").body, "value,reports,clients\r\nLINE,1,1\r\n");

    // The sign-in form: a wrong token is refused, the right one sets a cookie scripts cannot read.
    auto signIn = [&](const std::string& token)
    { return post(admin.server->port(), "/login", "token=" + token); };
    EXPECT_EQ(signIn("0123456789abcdef-admiN").status, 401);
    EXPECT_EQ(signIn("0123456789abcdef-admiN").header("Set-Cookie"), "");
    const HttpResponse in = signIn(kToken);
    EXPECT_EQ(in.status, 303);
    EXPECT_EQ(in.header("Set-Cookie"), "zncip_admin=" + kToken + "; Path=/; HttpOnly; SameSite=Strict");
    EXPECT_EQ(signIn(std::string(2000, 'x')).status, 413);
}

TEST(Admin, WithoutATokenOnlyThisMachineGetsIn)
{
    const std::string outside = outsideAddress();
    Admin admin("", outside.empty() ? "127.0.0.1" : "0.0.0.0");
    EXPECT_EQ(admin.get("/api/report").status, 200);
    if (outside.empty())
        GTEST_SKIP() << "this machine has no address but loopback";
    const HttpResponse r = test::get(admin.server->port(), "/api/report", "", outside.c_str());
    EXPECT_EQ(r.status, 403);
    EXPECT_EQ(r.body.find("\"hits\""), std::string::npos);
}

TEST(Admin, ATokenTooShortOrUnfitForACookieStopsTheStart)
{
    for (const std::string token : {"short", "0123456789abcdef;admin", "0123456789 abcdef-admin"})
        EXPECT_THROW(Admin admin(token), StartError) << token;
}

TEST(Admin, NothingOfItAnswersOnTheCollectionPort)
{
    RunningServer s;
    for (const char* path : {"/", "/commands", "/login", "/static/app.js", "/api/report", "/api/csv/commands"})
        EXPECT_EQ(get(s.port(), path).status, 404) << path;
}

TEST(Admin, TheReportPageIsOneFileWithItsDataInside)
{
    Report report;
    report.commands.values["</script><script>alert(1)</script>"] = {1, 1};
    const std::string html = htmlReport(report, {"1.0"}, {});
    EXPECT_EQ(html.find("/static/"), std::string::npos) << "nothing loaded from elsewhere";
    EXPECT_EQ(html.find("</script><script>alert"), std::string::npos) << "data cannot end its element";
    EXPECT_NE(html.find("id=\"zncip-data\""), std::string::npos);
}

} // namespace
} // namespace zncip::collector::test
