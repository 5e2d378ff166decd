// The Google service's queue on the wire against a real HTTP server on the loopback: retries, the
// participation and installation gates, and keeping unsent hits across sessions.
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
#include <QElapsedTimer>
#include <QSettings>

#include <climits>
#include <memory>

namespace
{
const QString installationKey =
    QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Zinc Design Systems\\ZnCAD x64");

QStringList queueCommands(CZnCIPService_GA* service, int count)
{
    for (int i = 0; i < count; ++i)
    {
        service->SetEvent("Commands", "Execute", QStringLiteral("LINE %1").arg(i), 1);
        service->Send();
    }
    return service->Queue();
}

QStringList bodiesOf(const std::vector<TestHttpServer::Request>& requests)
{
    QStringList bodies;
    for (const auto& request : requests)
        bodies << QString::fromUtf8(request.body);
    return bodies;
}

// Stores hits the way an earlier session left them.
void storeEarlier(const QVariant& count, const QStringList& bodies, int first = 1)
{
    QSettings settings;
    settings.setValue("CIP/count", count);
    for (int i = 0; i < bodies.size(); ++i)
        settings.setValue(QStringLiteral("CIP/query%1").arg(first + i), bodies[i]);
}

QVariant stored(const QString& key)
{
    return QSettings().value(key);
}

// A participating user's core object, created as the module creates it, its service pointed at the
// test's own server.
class GaTransport : public HostFixture
{
protected:
    void SetUp() override
    {
        HostFixture::SetUp();
        GetZnSystemServices()->SetCanAskUser(false);
        ASSERT_TRUE(server.listen());
        GetZnResources()->SetCIPEndpoint(server.endpoint());
        OdResBufPtr rb = OdResBuf::newRb(OdResBuf::kRtInt32);
        rb->setInt32(1);
        GetZnSystemServices()->GetProfile()->GetSettings()->SetValue(CZnString("cip"),
                                                                     CZnString("CIPCONTROL"), rb);
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
        SetZnCIP(nullptr);
        cip = std::make_unique<CZnCIPImpl>();
        SetZnCIP(cip.get());
        return service = dynamic_cast<CZnCIPService_GA*>(cip->GetService());
    }

    // Waits until requests have arrived in all and the queue is settled (emptied or not).
    bool settled(int requests, bool emptied = true)
    {
        return waitFor(
            [&] {
                return server.requestCount() == requests && !service->IsBusy() &&
                       service->Queue().isEmpty() == emptied;
            });
    }
    bool tickUntil(int requests, bool emptied = true)
    {
        service->postMessage();
        return settled(requests, emptied);
    }

    TestHttpServer server;
    std::unique_ptr<CZnCIPImpl> cip;
    CZnCIPService_GA* service = nullptr;
};
} // namespace

TEST_F(GaTransport, QueuedHitsGoBackToBackAndOnlyTheLastAsksToClose)
{
    ASSERT_NE(start(), nullptr);
    const QStringList bodies = queueCommands(service, 3);
    service->postMessage();
    EXPECT_TRUE(service->IsBusy());
    EXPECT_FALSE(service->SendTimer().isActive()) << "no tick while a send is in flight";
    ASSERT_TRUE(settled(3));

    const auto requests = server.requests();
    EXPECT_EQ(bodiesOf(requests), bodies);
    const char* connection[] = {"keep-alive", "keep-alive", "close"};
    for (int i = 0; i < 3; ++i)
    {
        SCOPED_TRACE(i);
        const auto& r = requests[static_cast<size_t>(i)];
        EXPECT_EQ(r.method, "POST");
        EXPECT_EQ(r.path, "/collect");
        EXPECT_EQ(r.header("Connection"), connection[i]);
        EXPECT_EQ(r.header("Content-Length"), QByteArray::number(r.body.size()));
        EXPECT_EQ(r.header("Content-Type"), "application/x-www-form-urlencoded");
        EXPECT_EQ(r.header("User-Agent"),
                  service->Request().header(QNetworkRequest::UserAgentHeader).toByteArray());
        EXPECT_EQ(r.connection, 1) << "kept alive, one connection carries every hit";
    }
    EXPECT_TRUE(service->SendTimer().isActive());
    EXPECT_EQ(service->PendingReply(), nullptr);
}

TEST_F(GaTransport, AnswersWithoutSuccessKeepTheHitForTheNextTick)
{
    ASSERT_NE(start(), nullptr);
    server.queueStatuses({500});
    const QStringList bodies = queueCommands(service, 2);
    ASSERT_TRUE(tickUntil(1, false));
    EXPECT_EQ(service->Queue(), bodies);
    EXPECT_TRUE(service->SendTimer().isActive());
    processEvents(200);
    EXPECT_EQ(server.requestCount(), 1) << "the next attempt waits for the timer";
    ASSERT_TRUE(tickUntil(3));
    EXPECT_EQ(bodiesOf(server.requests()), QStringList({bodies[0], bodies[0], bodies[1]}));

    const QStringList one = queueCommands(service, 1);
    int sent = 3;
    for (int status : {301, 404, 199, 300})
    {
        SCOPED_TRACE(status);
        server.queueStatuses({status});
        ASSERT_TRUE(tickUntil(++sent, false));
        EXPECT_EQ(service->Queue(), one);
    }
    server.queueStatuses({299});
    EXPECT_TRUE(tickUntil(++sent));
}

TEST_F(GaTransport, NoAnswerOrNoConnectionIsAFailure)
{
    CZnNetworkManager* network = GetZnSystemServices()->GetNetworkManager();
    EXPECT_EQ(network->GetTransferTimeout(), CZnNetworkManager::defaultTransferTimeoutMs);
    network->SetTransferTimeout(300);
    server.setSilent(true);
    ASSERT_NE(start(), nullptr);
    const QStringList bodies = queueCommands(service, 2);
    service->postMessage();
    ASSERT_TRUE(waitFor([&] { return server.requestCount() == 1; }));
    EXPECT_TRUE(service->IsBusy());
    ASSERT_TRUE(waitFor([&] { return !service->IsBusy(); }));
    EXPECT_EQ(service->Queue(), bodies);
    EXPECT_TRUE(service->SendTimer().isActive());
    EXPECT_TRUE(waitFor([&] { return server.closedCount() == 1; })) << "the stalled connection is dropped";

    // Refused: nothing listens on the port any more.
    server.close();
    service->postMessage();
    ASSERT_TRUE(waitFor([&] { return !service->IsBusy(); }));
    EXPECT_EQ(service->Queue(), bodies);
    EXPECT_TRUE(service->SendTimer().isActive());
    // A finished call without any reply is ignored.
    service->ReplyFinished(nullptr);
    EXPECT_EQ(service->Queue(), bodies);
    EXPECT_FALSE(service->IsBusy());

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

    // No published core object counts as not participating.
    cip->SetEnabled(true);
    queueCommands(service, 1);
    SetZnCIP(nullptr);
    service->postMessage();
    EXPECT_TRUE(service->Queue().isEmpty());
    processEvents(100);
    EXPECT_EQ(server.requestCount(), 0);
}

TEST_F(GaTransport, OnlyTheRegisteredInstallationFolderSends)
{
    // Without a registry, or without the product's value in it, the check passes.
    ASSERT_NE(start(), nullptr);
    EXPECT_FALSE(service->IsOutsideInstallation());
    CZnRegistry::SetFile(path("registry.ini"));
    ASSERT_TRUE(CZnRegistry::SetValue("HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Other\\ZnCAD x64",
                                      "Location", "D:\\x"));
    ASSERT_NE(start(), nullptr);
    EXPECT_FALSE(service->IsOutsideInstallation());

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

    // Registered with backslashes and in another case, the folder we run from counts as inside.
    ASSERT_TRUE(CZnRegistry::SetValue(installationKey, "Location",
                                      QCoreApplication::applicationDirPath().toUpper().replace('/', '\\')));
    ASSERT_NE(start(), nullptr);
    EXPECT_FALSE(service->IsOutsideInstallation());
    queueCommands(service, 1);
    EXPECT_TRUE(tickUntil(1));

    EXPECT_FALSE(CZnCIPService_GA::IsOutside("E:\\Prog\\App", "E:/prog/app/bin"));
    EXPECT_FALSE(CZnCIPService_GA::IsOutside("E:/Prog/App", "E:\\PROG\\APP"));
    EXPECT_TRUE(CZnCIPService_GA::IsOutside("E:\\Prog\\App", "D:/other"));
    EXPECT_TRUE(CZnCIPService_GA::IsOutside("E:\\Prog\\App\\bin", "E:/prog/app"));
}

TEST_F(GaTransport, SessionsStoreUnsentHitsAfterEarlierOnesAndPutThemBackOnce)
{
    storeEarlier(2, {"old1", "old2&x=%20"});
    CZnCIPService_GA ga;
    const QStringList bodies = queueCommands(&ga, 3);
    ga.EndSession();
    EXPECT_EQ(stored("CIP/count").toInt(), 5);
    const QStringList all = QStringList({"old1", "old2&x=%20"}) + bodies;
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(stored(QStringLiteral("CIP/query%1").arg(i + 1)).toString(), all[i]) << i;
    EXPECT_FALSE(QSettings().contains("CIP/query6")) << "the session-end hit stays in memory";
    ASSERT_EQ(ga.Queue().size(), 1);
    const QString endHit = ga.Queue().first();
    EXPECT_EQ(hitValue(decodeHit(endHit), "sc"), "end");

    ga.StartSession();
    ASSERT_EQ(ga.Queue().size(), 7);
    EXPECT_EQ(ga.Queue().first(), endHit) << "what was queued stays first";
    EXPECT_EQ(ga.Queue().mid(1, 5), all);
    EXPECT_EQ(hitValue(decodeHit(ga.Queue().last()), "sc"), "start");
    EXPECT_EQ(stored("CIP/count").toInt(), 0);
    for (int i = 1; i <= 5; ++i)
        EXPECT_FALSE(QSettings().contains(QStringLiteral("CIP/query%1").arg(i))) << i;
    ga.StartSession();
    EXPECT_EQ(ga.Queue().size(), 8) << "only a second start hit";

    const QStringList before = ga.Queue();
    ga.EndSession();
    CZnCIPService_GA next;
    next.StartSession();
    EXPECT_EQ(next.Queue().mid(0, before.size()), before) << "the next session gets it all back, in order";
}

TEST_F(GaTransport, TheHitInFlightIsNeitherStoredNorRemovedTwice)
{
    server.hold();
    ASSERT_NE(start(), nullptr);
    const QStringList bodies = queueCommands(service, 3);
    service->postMessage();
    ASSERT_TRUE(waitFor([&] { return server.requestCount() == 1; }));

    service->EndSession();
    EXPECT_EQ(stored("CIP/count").toInt(), 2);
    EXPECT_EQ(stored("CIP/query1").toString(), bodies[1]);
    EXPECT_EQ(stored("CIP/query2").toString(), bodies[2]);
    ASSERT_EQ(service->Queue().size(), 1);
    const QString endHit = service->Queue().first();

    // The late success must not take the session-end hit for the one it confirms: that one goes next.
    server.release();
    ASSERT_TRUE(waitFor([&] { return server.requestCount() == 2 && service->Queue().isEmpty(); }));
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
    EXPECT_FALSE(QSettings().contains("CIP/count")) << "only a session end keeps hits";
}

TEST_F(GaTransport, DamagedStoredHitsAreReadAsFarAsTheyMakeSense)
{
    // Not a number: nothing is restored and nothing removed; a later store starts afresh at 1.
    CZnCIPService_GA ga;
    storeEarlier("many", {"a"});
    ga.StartSession();
    EXPECT_EQ(ga.Queue().size(), 1);
    EXPECT_EQ(stored("CIP/count").toString(), "many");
    ga.EndSession();
    EXPECT_EQ(stored("CIP/count").toInt(), 1);

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
    EXPECT_EQ(QSettings().allKeys(), QStringList({"CIP/count", "CIP_ClientId"}));
    EXPECT_EQ(stored("CIP/count").toInt(), 0);

    // Keys beyond the count are not the count's: they stay, as does a group of its own under CIP.
    CZnCIPService_GA third;
    QSettings().clear();
    storeEarlier(1, {"y1", "y2"});
    QSettings().setValue("CIP/other/key", "kept");
    third.StartSession();
    EXPECT_EQ(third.Queue().first(), "y1");
    EXPECT_FALSE(QSettings().contains("CIP/query1"));
    EXPECT_EQ(stored("CIP/query2").toString(), "y2");
    QSettings().remove("CIP/query2");
    storeEarlier(1, {"z1"});
    third.StartSession();
    EXPECT_FALSE(QSettings().contains("CIP/query1"));
    EXPECT_EQ(stored("CIP/other/key").toString(), "kept");

    // A negative count is reset by a start and counts as none when storing.
    CZnCIPService_GA fourth;
    QSettings().clear();
    storeEarlier(-3, {});
    const QStringList bodies = queueCommands(&fourth, 2);
    fourth.EndSession();
    EXPECT_EQ(stored("CIP/count").toInt(), 2);
    EXPECT_EQ(stored("CIP/query1").toString(), bodies[0]);
}

TEST_F(GaTransport, EmptyStoredHitsTakeTheirTurnWithoutHoldingUpTheOthers)
{
    storeEarlier(3, {"v=1&t=event&ec=A", "", "v=1&t=event&ec=B"});
    ASSERT_NE(start(), nullptr);
    service->StartSession();
    ASSERT_EQ(service->Queue().size(), 4);
    EXPECT_TRUE(service->Queue().at(1).isEmpty());
    ASSERT_TRUE(tickUntil(4));
    const auto requests = server.requests();
    EXPECT_EQ(requests[1].body, QByteArray());
    EXPECT_EQ(requests[1].header("Content-Length"), "0");
    EXPECT_EQ(requests[2].body, "v=1&t=event&ec=B");
}
