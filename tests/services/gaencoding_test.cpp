// What the Google service puts in its queue: identity values, the items of each hit and their order,
// and how they are encoded.
#include "czncipservice_ga.h"
#include "cznresources.h"
#include "cznsystemservices.h"
#include "hitdecoding.h"
#include "hostfixture.h"

#include <QCoreApplication>
#include <QSettings>
#include <QUuid>

#include <cstdlib>
#include <tuple>

namespace
{
// The system locale is read once per process, before any test runs: fix it to one that has a region,
// so that the language rule (lower case, "-" for "_") and the untouched name in the User-Agent differ.
const bool localeFixed = setenv("LC_ALL", "en_US.UTF-8", 1) == 0 && setenv("LANG", "en_US.UTF-8", 1) == 0;

class GaEncoding : public HostFixture
{
protected:
    void SetUp() override
    {
        HostFixture::SetUp();
        ASSERT_TRUE(localeFixed);
    }

    // Queues one event through Send and returns its decoded items (empty when nothing was queued).
    HitItems sendEvent(CZnCIPService_GA& service, const QString& category, const QString& label, int value,
                       const QString& action = QStringLiteral("Execute"))
    {
        const int before = service.Queue().size();
        service.SetEvent(category, action, label, value);
        service.Send();
        return service.Queue().size() > before ? decodeHit(service.Queue().last()) : HitItems();
    }
};

const QStringList& eventHead()
{
    static const QStringList keys = {"v", "tid", "cid", "t", "ul", "qt", "an", "av", "ec", "ea"};
    return keys;
}
} // namespace

TEST_F(GaEncoding, EventHitCarriesItsItemsInOrderAndAlwaysItsValue)
{
    CZnCIPService_GA service;
    const HitItems expected = {
        {"v", "1"},
        {"tid", "UA-582047-16"},
        {"cid", service.GetClientId().toQString()},
        {"t", "event"},
        {"ul", "en-us"},
        {"qt", "1"},
        {"an", "ZnCAD SP1 x64"},
        {"av", "21.2.1"},
        {"ec", "Commands"},
        {"ea", "Execute"},
        {"el", "LINE (GROUPA)"},
        {"ev", "1"},
    };
    EXPECT_EQ(sendEvent(service, "Commands", "LINE (GROUPA)", 1), expected);
    // Blanks in the label are written as %20, never as "+".
    EXPECT_TRUE(service.Queue().last().endsWith("&el=LINE%20(GROUPA)&ev=1"))
        << qPrintable(service.Queue().last());

    // The label is left out when empty; the value always goes.
    const HitItems zero = sendEvent(service, "Unknown Commands", "", 0);
    EXPECT_EQ(hitKeys(zero), QStringList(eventHead()) << "ev");
    EXPECT_EQ(hitValue(zero, "ev"), "0");
    EXPECT_EQ(hitValue(sendEvent(service, "Toolbar", "", -42), "ev"), "-42");
    const HitItems large = sendEvent(service, "Toolbar", "x", 2147483647);
    EXPECT_EQ(hitValue(large, "ev"), "2147483647");
    EXPECT_EQ(hitValue(large, "el"), "x");
}

TEST_F(GaEncoding, RefusedCategoriesQueueNothing)
{
    CZnCIPService_GA service;
    for (const char* category : {"Build", "Drawing", "Proxy Entities", "Output", "Performance", "Variables",
                                 "commands", "session", ""})
    {
        EXPECT_TRUE(sendEvent(service, category, "label", 1).isEmpty()) << category;
        service.SetScreenValue(category, "n", 1, CZnString("v"));
        service.Send();
    }
    service.Send(); // nothing prepared
    EXPECT_TRUE(service.Queue().isEmpty());
}

TEST_F(GaEncoding, ScreenViewValuesFollowTheirIndexes)
{
    CZnCIPService_GA service;
    service.SetScreenValue("System", "metric", 15, 3);
    service.SetScreenValue("System", "dimension", 1, CZnString("Windows 10"));
    service.SetScreenValue("System", "ratio", 0, 1.25);
    service.Send();
    ASSERT_EQ(service.Queue().size(), 1);
    const HitItems items = decodeHit(service.Queue().first());
    const HitItems expected = {
        {"v", "1"},          {"tid", "UA-582047-16"}, {"cid", service.GetClientId().toQString()},
        {"t", "screenview"}, {"ul", "en-us"},         {"qt", "1"},
        {"cd", "System"},    {"an", "ZnCAD SP1 x64"}, {"av", "21.2.1"},
        {"cd5", "1.25"},     {"cd1", "Windows 10"},   {"cm1", "3"},
    };
    EXPECT_EQ(items, expected);
}

TEST_F(GaEncoding, EveryIndexMapsToItsParameterAndOthersToNone)
{
    const QStringList table = {"cd5", "cd1",  "cd2", "cd3",  "cd4", "cd6",  "cd7",  "cd8",
                               "cd9", "cd10", "cm2", "cd11", "cm4", "cm3",  "cd12", "cm1",
                               "cm5", "cm6",  "cm7", "cm8",  "cm9", "cm10", "cm11", "cm12"};
    for (int index = 0; index < table.size(); ++index)
        EXPECT_EQ(CZnCIPService_GA::ParameterName(index), table[index]) << index;

    // Outside the table the value still goes, under an empty name.
    CZnCIPService_GA service;
    for (int index : {-1, 24, 1000})
    {
        EXPECT_TRUE(CZnCIPService_GA::ParameterName(index).isEmpty()) << index;
        service.SetScreenValue("Screen", "n", index, index);
        service.Send();
        const HitItems items = decodeHit(service.Queue().last());
        EXPECT_EQ(items.last(), qMakePair(QString(), QString::number(index)));
    }
}

TEST_F(GaEncoding, NonAsciiAndReservedCharactersSurviveTheRoundTrip)
{
    CZnCIPService_GA service;
    const QString label = QStringLiteral("Zoom Window \u00e4\u20ac\U0001F600 a+b&c=d#e 50%/?;'\"<>\\");
    const HitItems items = sendEvent(service, "Commands", label, 1, QStringLiteral("Ex\u00e9cuter"));
    EXPECT_EQ(hitValue(items, "el"), label);
    EXPECT_EQ(hitValue(items, "ea"), QStringLiteral("Ex\u00e9cuter"));

    const QString body = service.Queue().last();
    EXPECT_TRUE(body.contains("&ea=Ex%C3%A9cuter&")) << qPrintable(body);
    EXPECT_TRUE(body.contains(
        "el=Zoom%20Window%20%C3%A4%E2%82%AC%F0%9F%98%80%20a+b%26c%3Dd%23e%2050%25/?;'%22%3C%3E%5C&"))
        << qPrintable(body);
    // Everything on the wire is plain ASCII.
    for (const QChar c : body)
        EXPECT_LT(c.unicode(), 0x80);
}

TEST_F(GaEncoding, SessionHitsCarryTheirMarkerAndNoValue)
{
    CZnCIPService_GA service;
    service.StartSession();
    service.SetEvent("Commands", "Execute", "pending", 1);
    ASSERT_EQ(service.Queue().size(), 1);
    const HitItems start = decodeHit(service.Queue().first());
    EXPECT_EQ(hitKeys(start), QStringList(eventHead()) << "sc");
    EXPECT_EQ(hitValue(start, "ec"), "Session");
    EXPECT_EQ(hitValue(start, "ea"), "Start");
    EXPECT_EQ(hitValue(start, "sc"), "start");

    // The end stores what is queued (the start hit) and then queues itself.
    service.EndSession();
    ASSERT_EQ(service.Queue().size(), 1);
    const HitItems end = decodeHit(service.Queue().first());
    EXPECT_EQ(hitKeys(end), QStringList(eventHead()) << "sc");
    EXPECT_EQ(hitValue(end, "ea"), "End");
    EXPECT_EQ(hitValue(end, "sc"), "end");
    // Session hits bypass the pending record.
    EXPECT_EQ(service.Record().label.toQString(), "pending");
    EXPECT_EQ(service.Record().kind, CZnCIPServiceRecord::RecordEvent);
}

TEST_F(GaEncoding, ApplicationNameTellsTheEdition)
{
    // Service pack and build; -1 means the host has no version numbers.
    const std::tuple<int, int, const char*> cases[] = {
        {2, 10, "ZnCAD SP2 x64"},   {0, 999, "ZnCAD PR x64"}, {0, 1000, "ZnCAD SP0 x64"},
        {1, 1520, "ZnCAD SP1 x64"}, {-1, 0, "ZnCAD x64"},
    };
    for (const auto& [servicePack, build, name] : cases)
    {
        if (servicePack >= 0)
            GetZnSystemServices()->SetVersionNumbers(21, servicePack, 0, build);
        else
            GetZnSystemServices()->ClearVersionNumbers();
        CZnCIPService_GA service;
        EXPECT_EQ(hitValue(sendEvent(service, "Commands", "", 1), "an"), name);
    }
}

TEST_F(GaEncoding, IdentityComesFromTheHostAndTheRequestIsPreparedOnce)
{
    GetZnResources()->SetTrackingId("UA-1234-5");
    GetZnSystemServices()->SetVersionNumbers(1, 2, 0, 7);
    GetZnSystemServices()->SetVersionString("1.0");
    GetZnResources()->SetCIPEndpoint("collector.example:9090");
    CZnCIPService_GA service;
    const HitItems items = sendEvent(service, "Commands", "", 1);
    EXPECT_EQ(hitValue(items, "tid"), "UA-1234-5");
    EXPECT_EQ(hitValue(items, "av"), "1.0");

    const QNetworkRequest& request = service.Request();
    EXPECT_EQ(request.url().toString(), "http://collector.example:9090/collect");
    EXPECT_EQ(request.header(QNetworkRequest::ContentTypeHeader).toString(),
              "application/x-www-form-urlencoded");
    EXPECT_EQ(request.header(QNetworkRequest::UserAgentHeader).toString(),
              "ZnCAD SP2 x64/1.0 (WIN; en_US) Ostrevan/1.0 (Qt/5.12.3)");
    // Per-send headers are not there before the first send.
    EXPECT_FALSE(request.hasRawHeader("Connection"));

    // The timer is armed from the start, 30 s and repeating, without anything being sent yet.
    EXPECT_TRUE(service.SendTimer().isActive());
    EXPECT_EQ(service.SendTimer().interval(), 30000);
    EXPECT_FALSE(service.SendTimer().isSingleShot());
    EXPECT_FALSE(service.IsBusy());
}

TEST_F(GaEncoding, ClientIdIsCreatedOnceAndReadAnewEachTime)
{
    CZnCIPService_GA service;
    EXPECT_FALSE(QSettings().contains("CIP_ClientId"));
    const QString first = service.GetClientId().toQString();
    EXPECT_EQ(first.size(), 36);
    EXPECT_FALSE(QUuid(first).isNull()) << qPrintable(first);
    EXPECT_EQ(QSettings().value("CIP_ClientId").toString(), first);
    EXPECT_EQ(service.GetClientId().toQString(), first);

    // Another process of the same user changed it: the next hit says so.
    QSettings().setValue("CIP_ClientId", "0f4c2a9e-7d1b-4c55-9a53-1df0a7c3e001");
    EXPECT_EQ(hitValue(sendEvent(service, "Commands", "", 1), "cid"), "0f4c2a9e-7d1b-4c55-9a53-1df0a7c3e001");

    // A second service in the same profile reuses the stored identifier; a fresh profile gets a new one.
    CZnCIPService_GA other;
    EXPECT_EQ(other.GetClientId().toQString(), "0f4c2a9e-7d1b-4c55-9a53-1df0a7c3e001");
    QSettings().remove("CIP_ClientId");
    const QString fresh = other.GetClientId().toQString();
    EXPECT_EQ(fresh.size(), 36);
    EXPECT_NE(fresh, first);
}
