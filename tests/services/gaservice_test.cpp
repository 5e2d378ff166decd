// What the services let out of the process and how the Google service encodes it: the category filter of
// both real services, and each shape of hit taken apart item by item.
#include "czncipservice_ga.h"
#include "czncipservice_static.h"
#include "cznresources.h"
#include "cznsystemservices.h"
#include "hostfixture.h"
#include "qtprinting.h"

#include <QSettings>
#include <QUrlQuery>
#include <QUuid>

#include <climits>
#include <cstdlib>
#include <functional>
#include <tuple>

namespace
{
using Ga = CZnCIPService_GA;
// The system locale is read once per process, before any test runs: fix it to one that has a region,
// so that the language rule (lower case, "-" for "_") and the untouched name in the User-Agent differ.
const bool localeFixed = setenv("LC_ALL", "en_US.UTF-8", 1) == 0 && setenv("LANG", "en_US.UTF-8", 1) == 0;
const QString clientId = QStringLiteral("35009a79-1a05-49d7-b876-2b884d0f825b");

class GaService : public HostFixture
{
protected:
    void SetUp() override
    {
        HostFixture::SetUp();
        ASSERT_TRUE(localeFixed);
        QSettings().setValue("CIP_ClientId", clientId);
    }
};

// A hit's decoded items as "key=value" joined by "|", and how every event and screen view begins.
QString items(const QString& body)
{
    QStringList pairs;
    for (const auto& item : QUrlQuery(body).queryItems(QUrl::FullyDecoded))
        pairs << item.first + "=" + item.second;
    return pairs.join('|');
}
const QString event =
    "v=1|tid=UA-582047-16|cid=" + clientId + "|t=event|ul=en-us|qt=1|an=ZnCAD SP1 x64|av=21.2.1|";
const QString screen = "v=1|tid=UA-582047-16|cid=" + clientId + "|t=screenview|ul=en-us|qt=1|cd=";
} // namespace

TEST_F(GaService, OnlyAllowedCategoriesLeaveEitherService)
{
    const QStringList allowed = QString("Commands|Unknown Commands|Screen|System|OpenGL|UserInterface|"
                                        "CloudStorage|Workspace|DockWidget|Toolbar|Session")
                                    .split('|');
    const QStringList refused = QString("Build|Drawing|Proxy Entities|Output|Performance|Variables|commands|"
                                        "Commands |Telemetry|")
                                    .split('|');
    Ga ga;
    CZnCIPService_Static log;
    const auto emitted = [&] { return ga.Queue().size() + static_cast<int>(log.PendingLines().size()); };
    for (const QString& category : allowed + refused)
        for (CZnCIPService* service : {static_cast<CZnCIPService*>(&ga), static_cast<CZnCIPService*>(&log)})
        {
            const int before = emitted();
            service->SetEvent(category, "Execute", "label", 1), service->Send();
            service->SetScreenValue(category, "name", 1, CZnString("value")), service->Send();
            service->Send(); // the record was reset: nothing more goes
            EXPECT_EQ(emitted() - before, allowed.contains(category) ? 2 : 0) << qPrintable(category);
        }
}

TEST_F(GaService, EachShapeOfHitIsEncodedItemByItem)
{
    using Prepare = std::function<void(Ga&)>;
    const auto send = [](const char* category, const QString& action, const QString& label, int value)
    { return Prepare([=](Ga& s) { s.SetEvent(category, action, label, value), s.Send(); }); };
    const QString odd = QStringLiteral("Zoom Window \u00e4\u20ac\U0001F600 a+b&c=d#e 50%/?;'\"<>\\");
    const QString action = QStringLiteral("Ex\u00e9cuter");
    // How the queue is filled -> every queued hit's items.
    const std::pair<Prepare, QStringList> shapes[] = {
        {send("Commands", "Execute", "LINE (GROUPA)", INT_MIN),
         {event + "ec=Commands|ea=Execute|el=LINE (GROUPA)|ev=-2147483648"}},
        {send("Unknown Commands", "Execute", "", 0), {event + "ec=Unknown Commands|ea=Execute|ev=0"}},
        {send("Commands", action, odd, 1), {event + "ec=Commands|ea=" + action + "|el=" + odd + "|ev=1"}},
        // Ascending index order, the last value per index, an empty name outside the table.
        {[](Ga& s)
         {
             for (int index : {15, 1, 24, 0, -1})
                 s.SetScreenValue("System", "n", index, index);
             s.SetScreenValue("System", "n", 1, CZnString("Windows 10"));
             s.SetScreenValue("System", "n", 0, 1.25);
             s.Send();
         },
         {screen + "System|an=ZnCAD SP1 x64|av=21.2.1|=-1|cd5=1.25|cd1=Windows 10|cm1=15|=24"}},
        // The last preparing call decides the kind; the other kind's fields go nowhere.
        {[](Ga& s)
         { s.SetEvent("Commands", "Execute", "LINE", 1), s.SetScreenValue("Screen", "n", 1, 5), s.Send(); },
         {screen + "Screen|an=ZnCAD SP1 x64|av=21.2.1|cd1=5"}},
        {[](Ga& s)
         { s.SetScreenValue("Screen", "n", 1, 5), s.SetEvent("Commands", "Execute", "LINE", 3), s.Send(); },
         {event + "ec=Commands|ea=Execute|el=LINE|ev=3"}},
        // Session hits leave the pending record alone; the end stores what is queued, then queues itself.
        {[](Ga& s) { s.SetEvent("Commands", "Execute", "x", 1), s.StartSession(), s.Send(); },
         {event + "ec=Session|ea=Start|sc=start", event + "ec=Commands|ea=Execute|el=x|ev=1"}},
        {[](Ga& s) { s.SetEvent("Commands", "Execute", "x", 1), s.Send(), s.EndSession(); },
         {event + "ec=Session|ea=End|sc=end"}},
    };
    for (const auto& [prepare, expected] : shapes)
    {
        Ga service;
        prepare(service);
        QStringList hits;
        for (const QString& body : service.Queue())
        {
            hits << items(body);
            for (const QChar c : body)
                ASSERT_LT(c.unicode(), 0x80) << "the wire is plain ASCII";
        }
        EXPECT_EQ(hits, expected);
    }
}

TEST_F(GaService, IdentityEditionRequestAndClientId)
{
    // Service pack and build (none: the host has no version numbers) -> application name.
    const std::tuple<int, int, const char*> editions[] = {
        {2, 10, "ZnCAD SP2 x64"}, {0, 999, "ZnCAD PR x64"}, {0, 1000, "ZnCAD SP0 x64"}, {-1, 0, "ZnCAD x64"}};
    for (const auto& [servicePack, build, name] : editions)
    {
        servicePack < 0 ? GetZnSystemServices()->ClearVersionNumbers()
                        : GetZnSystemServices()->SetVersionNumbers(21, servicePack, 0, build);
        Ga service;
        service.StartSession();
        EXPECT_TRUE(items(service.Queue().last()).contains(QStringLiteral("|an=%1|").arg(name)))
            << qPrintable(service.Queue().last());
    }

    GetZnResources()->SetTrackingId("UA-1234-5");
    GetZnSystemServices()->SetVersionNumbers(1, 2, 0, 7);
    GetZnSystemServices()->SetVersionString("1.0");
    GetZnResources()->SetCIPEndpoint("collector.example:9090");
    Ga service;
    service.StartSession();
    EXPECT_EQ(items(service.Queue().last()),
              "v=1|tid=UA-1234-5|cid=" + clientId +
                  "|t=event|ul=en-us|qt=1|an=ZnCAD SP2 x64|av=1.0|ec=Session|ea=Start|sc=start");
    const QNetworkRequest& request = service.Request();
    EXPECT_EQ(request.url().toString(), "http://collector.example:9090/collect");
    EXPECT_EQ(request.header(QNetworkRequest::ContentTypeHeader).toString(),
              "application/x-www-form-urlencoded");
    EXPECT_EQ(request.header(QNetworkRequest::UserAgentHeader).toString(),
              "ZnCAD SP2 x64/1.0 (WIN; en_US) Ostrevan/1.0 (Qt/5.12.3)");

    // The anonymous client id: created when first needed, stored, reused, and read anew each time.
    QSettings().remove("CIP_ClientId");
    Ga fresh;
    EXPECT_FALSE(QSettings().contains("CIP_ClientId"));
    const QString first = fresh.GetClientId().toQString();
    EXPECT_FALSE(QUuid(first).isNull()) << qPrintable(first);
    EXPECT_EQ(first.size(), 36);
    EXPECT_EQ(QSettings().value("CIP_ClientId").toString(), first);
    EXPECT_EQ(service.GetClientId().toQString(), first);
    // Another process of the same user changed it: the next hit says so.
    QSettings().setValue("CIP_ClientId", clientId);
    fresh.StartSession();
    EXPECT_TRUE(items(fresh.Queue().last()).contains("|cid=" + clientId + "|"));
    // A fresh profile gets a new one.
    QSettings().remove("CIP_ClientId");
    EXPECT_NE(fresh.GetClientId().toQString(), first);
    EXPECT_EQ(QSettings().value("CIP_ClientId").toString().size(), 36);
}
