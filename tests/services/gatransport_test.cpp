// The Google service's queue on the wire: sending against a real HTTP server on the loopback, retries,
// the participation and installation gates, and keeping unsent hits across sessions.
#include "czncipimpl.h"
#include "czncipservice_ga.h"
#include "cznhostconfiguration.h"
#include "cznregistry.h"
#include "cznresources.h"
#include "cznsystemservices.h"
#include "hitdecoding.h"
#include "hostfixture.h"
#include "testhttpserver.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSettings>

#include <climits>
#include <memory>

namespace
{
const QString installationKey =
    QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Zinc Design Systems\\ZnCAD x64");

void setControl(int value)
{
    OdResBufPtr rb = OdResBuf::newRb(OdResBuf::kRtInt32);
    rb->setInt32(value);
    GetZnSystemServices()->GetProfile()->GetSettings()->SetValue(CZnString("cip"), CZnString("CIPCONTROL"),
                                                                 rb);
}

void queueCommands(CZnCIPService_GA* service, int count)
{
    for (int i = 0; i < count; ++i)
    {
        service->SetEvent("Commands", "Execute", QStringLiteral("LINE %1").arg(i), 1);
        service->Send();
    }
}

QStringList bodiesOf(const std::vector<TestHttpServer::Request>& requests)
{
    QStringList bodies;
    for (const auto& request : requests)
        bodies << QString::fromUtf8(request.body);
    return bodies;
}

// A participating user's core object, created as the module creates it, with its Google service
// pointed at the test's own server.
class GaTransport : public HostFixture
{
protected:
    void SetUp() override
    {
        HostFixture::SetUp();
        GetZnSystemServices()->SetCanAskUser(false);
        ASSERT_TRUE(server.listen());
        GetZnResources()->SetCIPEndpoint(server.endpoint());
        setControl(1);
    }

    void TearDown() override
    {
        SetZnCIP(nullptr);
        cip.reset();
        server.close();
        // Replies released with deleteLater go now, not at the end of the program.
        processEvents(20);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        HostFixture::TearDown();
    }

    CZnCIPService_GA* start()
    {
        cip = std::make_unique<CZnCIPImpl>();
        SetZnCIP(cip.get());
        service = dynamic_cast<CZnCIPService_GA*>(cip->GetService());
        return service;
    }

    void useRegistry() { CZnRegistry::SetFile(path("registry.ini")); }

    // Stores hits the way an earlier session left them.
    static void storeEarlier(const QVariant& count, const QStringList& bodies, int first = 1)
    {
        QSettings settings;
        settings.setValue("CIP/count", count);
        for (int i = 0; i < bodies.size(); ++i)
            settings.setValue(QStringLiteral("CIP/query%1").arg(first + i), bodies[i]);
    }

    TestHttpServer server;
    std::unique_ptr<CZnCIPImpl> cip;
    CZnCIPService_GA* service = nullptr;
};
} // namespace

TEST_F(GaTransport, QueuedHitsGoBackToBackAndOnlyTheLastAsksToClose)
{
    ASSERT_NE(start(), nullptr);
    queueCommands(service, 3);
    const QStringList bodies = service->Queue();

    service->postMessage();
    EXPECT_TRUE(service->IsBusy());
    EXPECT_FALSE(service->SendTimer().isActive()) << "no tick while a send is in flight";
    ASSERT_TRUE(waitFor([&] { return server.requestCount() == 3 && !service->IsBusy(); }));

    const auto requests = server.requests();
    EXPECT_EQ(bodiesOf(requests), bodies);
    const char* connection[] = {"keep-alive", "keep-alive", "close"};
    for (int i = 0; i < 3; ++i)
    {
        const auto& r = requests[static_cast<size_t>(i)];
        EXPECT_EQ(r.method, "POST");
        EXPECT_EQ(r.path, "/collect");
        EXPECT_EQ(r.header("Connection"), connection[i]) << r.head.constData();
        EXPECT_EQ(r.header("Content-Length"), QByteArray::number(r.body.size()));
        EXPECT_EQ(r.header("Content-Type"), "application/x-www-form-urlencoded");
        EXPECT_EQ(r.header("User-Agent"),
                  service->Request().header(QNetworkRequest::UserAgentHeader).toByteArray());
        // Kept alive, the connection carries every hit.
        EXPECT_EQ(r.connection, 1);
    }
    EXPECT_TRUE(service->Queue().isEmpty());
    EXPECT_TRUE(service->SendTimer().isActive());
    EXPECT_EQ(service->PendingReply(), nullptr);
}

TEST_F(GaTransport, FailedSendIsRepeatedAtTheNextTickBeforeAnythingElse)
{
    ASSERT_NE(start(), nullptr);
    server.queueStatuses({500});
    queueCommands(service, 2);
    const QStringList bodies = service->Queue();

    service->postMessage();
    ASSERT_TRUE(waitFor([&] { return server.requestCount() == 1 && !service->IsBusy(); }));
    EXPECT_EQ(service->Queue(), bodies);
    EXPECT_TRUE(service->SendTimer().isActive());
    processEvents(200);
    EXPECT_EQ(server.requestCount(), 1) << "the next attempt waits for the timer";

    service->postMessage(); // the tick
    ASSERT_TRUE(waitFor(
        [&] { return server.requestCount() == 3 && service->Queue().isEmpty() && !service->IsBusy(); }));
    EXPECT_EQ(bodiesOf(server.requests()), QStringList({bodies[0], bodies[0], bodies[1]}));
}

TEST_F(GaTransport, AnswersWithoutSuccessAreFailures)
{
    ASSERT_NE(start(), nullptr);
    queueCommands(service, 1);
    const QStringList bodies = service->Queue();
    // A redirect, a client error and a 1xx-free oddity all leave the hit where it is.
    for (int status : {301, 404, 199, 300})
    {
        server.queueStatuses({status});
        const int before = server.requestCount();
        service->postMessage();
        ASSERT_TRUE(waitFor([&] { return server.requestCount() == before + 1 && !service->IsBusy(); }))
            << status;
        EXPECT_EQ(service->Queue(), bodies) << status;
    }
    server.queueStatuses({299});
    service->postMessage();
    ASSERT_TRUE(waitFor([&] { return service->Queue().isEmpty() && !service->IsBusy(); }));
}

TEST_F(GaTransport, NoConnectionOrNoAnswerIsAFailure)
{
    // Refused: nothing listens on the port any more.
    ASSERT_NE(start(), nullptr);
    queueCommands(service, 2);
    const QStringList bodies = service->Queue();
    server.close();
    service->postMessage();
    ASSERT_TRUE(waitFor([&] { return !service->IsBusy(); }));
    EXPECT_EQ(service->Queue(), bodies);
    EXPECT_TRUE(service->SendTimer().isActive());

    // A reply without any status is ignored when it is not even there.
    service->ReplyFinished(nullptr);
    EXPECT_EQ(service->Queue(), bodies);
    EXPECT_FALSE(service->IsBusy());
}

TEST_F(GaTransport, ServerThatNeverAnswersIsGivenUp)
{
    CZnNetworkManager* network = GetZnSystemServices()->GetNetworkManager();
    EXPECT_EQ(network->GetTransferTimeout(), CZnNetworkManager::defaultTransferTimeoutMs);
    network->SetTransferTimeout(300);
    server.setSilent(true);
    ASSERT_NE(start(), nullptr);
    queueCommands(service, 1);
    const QStringList bodies = service->Queue();
    service->postMessage();
    ASSERT_TRUE(waitFor([&] { return server.requestCount() == 1; }));
    EXPECT_TRUE(service->IsBusy());
    ASSERT_TRUE(waitFor([&] { return !service->IsBusy(); }, 5000));
    EXPECT_EQ(service->Queue(), bodies);
    EXPECT_TRUE(service->SendTimer().isActive());
    EXPECT_TRUE(waitFor([&] { return server.closedCount() == 1; })) << "the stalled connection is dropped";

    // A fresh host goes back to the default.
    CZnHostConfiguration::ApplyDefaults();
    EXPECT_EQ(network->GetTransferTimeout(), CZnNetworkManager::defaultTransferTimeoutMs);
}

TEST_F(GaTransport, WithoutParticipationTheNextTickDiscardsTheQueue)
{
    ASSERT_NE(start(), nullptr);
    queueCommands(service, 2);
    cip->SetEnabled(false);
    service->postMessage();
    EXPECT_TRUE(service->Queue().isEmpty());
    EXPECT_TRUE(service->SendTimer().isActive()) << "the timer is left alone";

    // No published CIP object counts as not participating.
    cip->SetEnabled(true);
    queueCommands(service, 1);
    SetZnCIP(nullptr);
    service->postMessage();
    EXPECT_TRUE(service->Queue().isEmpty());

    processEvents(100);
    EXPECT_EQ(server.requestCount(), 0);
}

TEST_F(GaTransport, OutsideTheInstallationFolderNothingIsEverSent)
{
    useRegistry();
    ASSERT_TRUE(CZnRegistry::SetValue(installationKey, "Location", "D:\\other"));
    ASSERT_NE(start(), nullptr);
    EXPECT_TRUE(service->IsOutsideInstallation());
    for (int tick = 0; tick < 3; ++tick)
    {
        queueCommands(service, 2);
        service->postMessage();
        EXPECT_TRUE(service->Queue().isEmpty());
        EXPECT_FALSE(service->IsBusy());
    }
    processEvents(100);
    EXPECT_EQ(server.requestCount(), 0);
}

TEST_F(GaTransport, TheRegisteredFolderMatchesWhateverItsCaseAndSeparators)
{
    // Without a registry, or without the product's value in it, the check passes.
    ASSERT_NE(start(), nullptr);
    EXPECT_FALSE(service->IsOutsideInstallation());
    useRegistry();
    ASSERT_TRUE(CZnRegistry::SetValue("HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Other\\ZnCAD x64",
                                      "Location", "D:\\x"));
    SetZnCIP(nullptr);
    ASSERT_NE(start(), nullptr);
    EXPECT_FALSE(service->IsOutsideInstallation());

    // Registered with backslashes and in another case, the folder we run from still counts as inside.
    SetZnCIP(nullptr);
    QString location = QCoreApplication::applicationDirPath().toUpper();
    location.replace('/', '\\');
    ASSERT_TRUE(CZnRegistry::SetValue(installationKey, "Location", location));
    ASSERT_NE(start(), nullptr);
    EXPECT_FALSE(service->IsOutsideInstallation());
    queueCommands(service, 1);
    service->postMessage();
    EXPECT_TRUE(waitFor([&] { return server.requestCount() == 1 && service->Queue().isEmpty(); }));

    EXPECT_FALSE(CZnCIPService_GA::IsOutside("E:\\Prog\\App", "E:/prog/app/bin"));
    EXPECT_FALSE(CZnCIPService_GA::IsOutside("E:/Prog/App", "E:\\PROG\\APP"));
    EXPECT_TRUE(CZnCIPService_GA::IsOutside("E:\\Prog\\App", "D:/other"));
    EXPECT_TRUE(CZnCIPService_GA::IsOutside("E:\\Prog\\App\\bin", "E:/prog/app"));
}

TEST_F(GaTransport, EndingASessionStoresUnsentHitsAfterEarlierOnes)
{
    storeEarlier(2, {"old1", "old2"});
    CZnCIPService_GA ga;
    queueCommands(&ga, 3);
    const QStringList bodies = ga.Queue();
    ga.EndSession();

    QSettings settings;
    EXPECT_EQ(settings.value("CIP/count").toInt(), 5);
    EXPECT_EQ(settings.value("CIP/query1").toString(), "old1");
    EXPECT_EQ(settings.value("CIP/query2").toString(), "old2");
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(settings.value(QStringLiteral("CIP/query%1").arg(3 + i)).toString(), bodies[i]);
    EXPECT_FALSE(settings.contains("CIP/query6")) << "the session-end hit stays in memory";
    ASSERT_EQ(ga.Queue().size(), 1);
    EXPECT_EQ(hitValue(decodeHit(ga.Queue().first()), "sc"), "end");
}

TEST_F(GaTransport, StartingASessionPutsStoredHitsBackOnce)
{
    const QStringList stored = {"h1", "h2&x=%20", "h3", "h4", "h5"};
    storeEarlier(5, stored);
    CZnCIPService_GA ga;
    queueCommands(&ga, 1);
    const QString live = ga.Queue().first();
    ga.StartSession();

    ASSERT_EQ(ga.Queue().size(), 7);
    EXPECT_EQ(ga.Queue().first(), live);
    EXPECT_EQ(ga.Queue().mid(1, 5), stored);
    EXPECT_EQ(hitValue(decodeHit(ga.Queue().last()), "sc"), "start");
    QSettings settings;
    EXPECT_EQ(settings.value("CIP/count").toInt(), 0);
    for (int i = 1; i <= 5; ++i)
        EXPECT_FALSE(settings.contains(QStringLiteral("CIP/query%1").arg(i))) << i;

    ga.StartSession();
    EXPECT_EQ(ga.Queue().size(), 8) << "only a second start hit";

    // Round trip: what one session stores the next one gets back, in order.
    const QStringList before = ga.Queue();
    ga.EndSession();
    CZnCIPService_GA next;
    next.StartSession();
    EXPECT_EQ(next.Queue().mid(0, before.size()), before);
}

TEST_F(GaTransport, TheHitInFlightIsNeitherStoredNorRemovedTwice)
{
    server.hold();
    ASSERT_NE(start(), nullptr);
    queueCommands(service, 3);
    const QStringList bodies = service->Queue();
    service->postMessage();
    ASSERT_TRUE(waitFor([&] { return server.requestCount() == 1; }));

    service->EndSession();
    QSettings settings;
    EXPECT_EQ(settings.value("CIP/count").toInt(), 2);
    EXPECT_EQ(settings.value("CIP/query1").toString(), bodies[1]);
    EXPECT_EQ(settings.value("CIP/query2").toString(), bodies[2]);
    ASSERT_EQ(service->Queue().size(), 1);
    const QString endHit = service->Queue().first();

    // The late success must not take the session-end hit for the one it confirms: that one goes next.
    server.release();
    ASSERT_TRUE(waitFor(
        [&] { return server.requestCount() == 2 && service->Queue().isEmpty() && !service->IsBusy(); }));
    EXPECT_EQ(QString::fromUtf8(server.requests().back().body), endHit);
}

TEST_F(GaTransport, DestroyingTheServiceAbortsTheRequestInFlight)
{
    server.setSilent(true);
    ASSERT_NE(start(), nullptr);
    queueCommands(service, 2);
    service->postMessage();
    ASSERT_TRUE(waitFor([&] { return server.requestCount() == 1; }));
    ASSERT_NE(service->PendingReply(), nullptr);

    SetZnCIP(nullptr);
    cip.reset(); // the core object takes its service with it
    EXPECT_EQ(GetZnSystemServices()->GetNetworkManager()->PendingCount(), 0);
    EXPECT_TRUE(waitFor([&] { return server.closedCount() == 1; })) << "the connection is dropped at once";
    // Nothing was stored: only a session end keeps hits.
    EXPECT_FALSE(QSettings().contains("CIP/count"));
}

TEST_F(GaTransport, DamagedStoredHitsAreReadAsFarAsTheyMakeSense)
{
    CZnCIPService_GA ga;

    // Not a number: nothing is restored and nothing removed; a later store starts afresh at 1.
    storeEarlier("many", {"a"});
    ga.StartSession();
    EXPECT_EQ(ga.Queue().size(), 1);
    EXPECT_EQ(QSettings().value("CIP/count").toString(), "many");
    ga.EndSession();
    EXPECT_EQ(QSettings().value("CIP/count").toInt(), 1);

    // A count beyond the stored keys, even the largest there is, restores what exists, in order.
    CZnCIPService_GA second;
    QSettings().clear();
    storeEarlier(INT_MAX, {"x1", "x2"});
    storeEarlier(INT_MAX, {"x9"}, 9);
    QElapsedTimer clock;
    clock.start();
    second.StartSession();
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_EQ(second.Queue().mid(0, 3), QStringList({"x1", "x2", "x9"}));
    EXPECT_EQ(QSettings().value("CIP/count").toInt(), 0);
    EXPECT_TRUE(QSettings().childGroups().contains("CIP"));
    EXPECT_EQ(QSettings().allKeys(), QStringList({"CIP/count", "CIP_ClientId"}));

    // Keys beyond the count are not the count's: they stay.
    CZnCIPService_GA third;
    QSettings().clear();
    storeEarlier(1, {"y1", "y2"});
    QSettings().setValue("CIP/other/key", "kept");
    third.StartSession();
    EXPECT_EQ(third.Queue().first(), "y1");
    EXPECT_FALSE(QSettings().contains("CIP/query1"));
    EXPECT_EQ(QSettings().value("CIP/query2").toString(), "y2");
    QSettings().remove("CIP/query2");
    storeEarlier(1, {"z1"});
    third.StartSession();
    EXPECT_FALSE(QSettings().contains("CIP/query1"));
    EXPECT_EQ(QSettings().value("CIP/other/key").toString(), "kept") << "a group of its own under CIP stays";

    // A negative count is reset by a start and counts as none when storing.
    CZnCIPService_GA fourth;
    QSettings().clear();
    storeEarlier(-3, {});
    queueCommands(&fourth, 2);
    const QStringList bodies = fourth.Queue();
    fourth.EndSession();
    EXPECT_EQ(QSettings().value("CIP/count").toInt(), 2);
    EXPECT_EQ(QSettings().value("CIP/query1").toString(), bodies[0]);
}

TEST_F(GaTransport, EmptyStoredHitsTakeTheirTurnWithoutHoldingUpTheOthers)
{
    storeEarlier(3, {"v=1&t=event&ec=A", "", "v=1&t=event&ec=B"});
    ASSERT_NE(start(), nullptr);
    service->StartSession();
    ASSERT_EQ(service->Queue().size(), 4);
    EXPECT_TRUE(service->Queue().at(1).isEmpty());

    service->postMessage();
    ASSERT_TRUE(waitFor(
        [&] { return server.requestCount() == 4 && service->Queue().isEmpty() && !service->IsBusy(); }));
    const auto requests = server.requests();
    EXPECT_EQ(requests[1].body, QByteArray());
    EXPECT_EQ(requests[1].header("Content-Length"), "0");
    EXPECT_EQ(requests[2].body, "v=1&t=event&ec=B");
}
