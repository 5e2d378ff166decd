// The Google service's queue through the host's network facility to the real collector, run in this
// process on a store that can be made to fail or to hold its answers; and unsent hits across sessions.
#include "collector_fixture.h"
#include "czncipimpl.h"
#include "czncipservice_ga.h"
#include "cznregistry.h"
#include "cznresources.h"
#include "cznsystemservices.h"
#include "hostfixture.h"
#include "profilesettings.h"
#include "qtprinting.h"

#include <QCoreApplication>
#include <QNetworkReply>
#include <QPointer>
#include <QSettings>

#include <algorithm>
#include <functional>
#include <memory>
#include <tuple>

namespace
{
QStringList queueCommands(CZnCIPService_GA* service, int count)
{
    for (int i = 0; i < count; ++i)
        service->SetEvent("Commands", "Execute", QStringLiteral("LINE %1").arg(i), 1), service->Send();
    return service->Queue();
}

// Settings under CIP/ as sorted "key=value" lines, the way an earlier session (or damage) left them.
void storeKeys(const QStringList& lines)
{
    for (const QString& line : lines)
        QSettings().setValue("CIP/" + line.section('=', 0, 0), line.section('=', 1));
}
QStringList storedKeys()
{
    QSettings settings;
    QStringList lines;
    for (const QString& key : settings.allKeys())
        if (key.startsWith("CIP/"))
            lines << key.mid(4) + "=" + settings.value(key).toString();
    return lines.sort(), lines;
}

// A participating user's core object as the module creates it, its service pointed at the collector.
class GaTransport : public HostFixture
{
protected:
    void SetUp() override
    {
        HostFixture::SetUp();
        GetZnSystemServices()->SetCanAskUser(false);
        setControl(1);
        GetZnResources()->SetCIPEndpoint(QStringLiteral("127.0.0.1:%1").arg(server.port()));
    }
    void TearDown() override
    {
        SetZnCIP(nullptr);
        cip.reset();
        // Replies released with deleteLater go now, not at the end of the program.
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
    bool settled()
    {
        return waitFor([&] { return service->Queue().isEmpty() && !service->IsBusy(); });
    }
    QStringList received() const
    {
        QStringList bodies;
        for (const auto& hit : server.hits())
            bodies << QString::fromStdString(hit.body);
        return bodies;
    }

    zncip::collector::test::RunningServer server;
    zncip::collector::test::FaultStore* store = server.store;
    std::unique_ptr<CZnCIPImpl> cip;
    CZnCIPService_GA* service = nullptr;
};
} // namespace

TEST_F(GaTransport, QueuedHitsReachTheCollectorByteForByteOneAfterAnother)
{
    storeKeys({"count=1", "query1="}); // an empty hit of an earlier session takes its turn
    ASSERT_NE(start(), nullptr);
    service->StartSession();
    for (const QString& label : {QStringLiteral("LINE (GROUPA)"), QStringLiteral("\u00d6FFNEN \u56f3\u9762"),
                                 QStringLiteral("C++ &=%")})
        service->SetEvent("Commands", "Execute", label, 1), service->Send();
    const QStringList bodies = service->Queue();
    ASSERT_EQ(bodies.size(), 5);

    // The timer starts the sending; each answer sends the next hit at once, and the connection is asked to
    // stay open while more hits wait.
    store->hold();
    QMetaObject::invokeMethod(&service->SendTimer(), "timeout", Qt::DirectConnection);
    for (int i = 0; i < bodies.size(); ++i)
    {
        SCOPED_TRACE(i);
        ASSERT_TRUE(waitFor([&] { return store->arrived() == i + 1; }));
        EXPECT_TRUE(service->IsBusy());
        EXPECT_FALSE(service->SendTimer().isActive()) << "no tick while a send is in flight";
        EXPECT_EQ(service->Request().rawHeader("Connection"), i + 1 < bodies.size() ? "keep-alive" : "close");
        store->release(1);
    }
    ASSERT_TRUE(settled());
    EXPECT_TRUE(service->SendTimer().isActive());
    EXPECT_EQ(service->PendingReply(), nullptr);
    EXPECT_EQ(received(), bodies);
    const QString agent = service->Request().header(QNetworkRequest::UserAgentHeader).toString();
    for (const auto& hit : server.hits())
    {
        EXPECT_EQ(hit.accepted, !hit.body.empty()) << hit.reason;
        EXPECT_EQ(QString::fromStdString(hit.userAgent), agent);
    }
}

TEST_F(GaTransport, AnyFailureKeepsTheHitFirstForTheNextTick)
{
    GetZnSystemServices()->GetNetworkManager()->SetTransferTimeout(300);
    ASSERT_NE(start(), nullptr);
    const QStringList bodies = queueCommands(service, 2);
    // The collector answers 503; it does not answer within the transfer time; nothing listens any more.
    const std::function<void()> failures[] = {[&] { store->failNext(1); }, [&] { store->hold(); },
                                              [&] { store->release(), server.server->stop(); }};
    for (int i = 0; i < 3; ++i)
    {
        SCOPED_TRACE(i);
        failures[i]();
        service->postMessage();
        ASSERT_TRUE(waitFor([&] { return store->arrived() == std::min(i + 1, 2) && !service->IsBusy(); }));
        EXPECT_EQ(service->Queue(), bodies);
        EXPECT_GT(service->SendTimer().remainingTime(), 29000) << "the next attempt waits for the timer";
    }
    service->ReplyFinished(nullptr); // a finished call without any reply is ignored
    EXPECT_EQ(service->Queue(), bodies);
}

TEST_F(GaTransport, ClosedGatesDiscardTheQueueWithoutPosting)
{
    const QString key = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Zinc Design Systems\\ZnCAD x64";
    CZnRegistry::SetFile(path("registry.ini"));
    // Not participating; no published core object; run from outside the installation folder registered.
    const std::function<void()> closers[] = {
        [&] { cip->SetEnabled(false); }, [&] { SetZnCIP(nullptr); },
        [&] { CZnRegistry::SetValue(key, "Location", "D:\\other"), start(); }};
    for (int i = 0; i < 3; ++i)
    {
        SCOPED_TRACE(i);
        ASSERT_NE(start(), nullptr);
        closers[i]();
        queueCommands(service, 2);
        service->postMessage();
        EXPECT_TRUE(service->Queue().isEmpty());
        EXPECT_EQ(GetZnSystemServices()->GetNetworkManager()->PendingCount(), 0) << "nothing was posted";
        EXPECT_TRUE(service->SendTimer().isActive()) << "the timer is left alone";
        cip->SetEnabled(true); // each row closes one gate only
    }
    // Registered with backslashes and in another case, the folder we run from counts as inside.
    ASSERT_TRUE(CZnRegistry::SetValue(key, "Location",
                                      QCoreApplication::applicationDirPath().toUpper().replace('/', '\\')));
    ASSERT_NE(start(), nullptr);
    queueCommands(service, 1);
    service->postMessage();
    EXPECT_TRUE(settled());
    EXPECT_EQ(received().size(), 1);
    EXPECT_TRUE(CZnCIPService_GA::IsOutside("E:\\Prog\\App\\bin", "E:/prog/app"));
}

TEST_F(GaTransport, TheHitInFlightIsNeitherStoredNorRemovedTwiceNorOutlivesItsService)
{
    store->hold();
    ASSERT_NE(start(), nullptr);
    const QStringList bodies = queueCommands(service, 3);
    service->postMessage();
    ASSERT_TRUE(waitFor([&] { return store->arrived() == 1; }));
    service->EndSession();
    EXPECT_EQ(storedKeys(), QStringList({"count=2", "query1=" + bodies[1], "query2=" + bodies[2]}));
    ASSERT_EQ(service->Queue().size(), 1);
    const QString endHit = service->Queue().first();
    // The late success must not take the session-end hit for the one it confirms: that one goes next.
    store->release();
    ASSERT_TRUE(settled());
    EXPECT_EQ(received(), QStringList({bodies[0], endHit}));

    // A service that goes with a send in flight takes the request with it, and keeps nothing.
    QSettings().clear();
    store->hold();
    queueCommands(service, 2);
    service->postMessage();
    ASSERT_TRUE(waitFor([&] { return store->arrived() == 3; }));
    const QPointer<QNetworkReply> reply = service->PendingReply();
    ASSERT_FALSE(reply.isNull());
    SetZnCIP(nullptr);
    cip.reset();
    EXPECT_TRUE(reply.isNull() || reply->isFinished()) << "the request goes with its service";
    EXPECT_TRUE(storedKeys().isEmpty());
}

TEST_F(GaTransport, DamagedStoredHitsAreReadAsFarAsTheyMakeSense)
{
    // What a start finds -> what it queues after the hit already queued and before its own start hit,
    // and what it leaves.
    const std::tuple<QStringList, QStringList, QStringList> starts[] = {
        {{"count=many", "query1=a"}, {}, {"count=many", "query1=a"}},
        {{"count=2147483647", "query1=x1", "query2=x2", "query9=x9"}, {"x1", "x2", "x9"}, {"count=0"}},
        {{"count=1", "o/k=kept", "query1=y1", "query2=y2"}, {"y1"}, {"count=0", "o/k=kept", "query2=y2"}},
        {{"count=3", "query1=A", "query2=", "query3=B&x=%20"}, {"A", "", "B&x=%20"}, {"count=0"}},
        {{"count=-3", "query1=n"}, {}, {"count=0", "query1=n"}},
    };
    for (const auto& [before, restored, after] : starts)
    {
        SCOPED_TRACE(qPrintable(before.join(' ')));
        QSettings().clear();
        storeKeys(before);
        CZnCIPService_GA ga;
        const QStringList queued = queueCommands(&ga, 1);
        ga.StartSession();
        EXPECT_EQ(ga.Queue().mid(0, ga.Queue().size() - 1), queued + restored);
        EXPECT_EQ(storedKeys(), after);
    }

    // The count an end finds -> where the first of its two hits goes. A count that leaves no room for them
    // up to the largest int starts afresh, as one that is no number or negative does.
    const std::pair<const char*, int> ends[] = {
        {"many", 1}, {"-3", 1}, {"2147483645", 2147483646}, {"2147483646", 1}, {"2147483647", 1}};
    for (const auto& [count, first] : ends)
    {
        SCOPED_TRACE(count);
        QSettings().clear();
        storeKeys({QStringLiteral("count=") + count});
        CZnCIPService_GA ga;
        const QStringList bodies = queueCommands(&ga, 2);
        ga.EndSession();
        EXPECT_EQ(storedKeys(), QStringList({QStringLiteral("count=%1").arg(first + 1),
                                             QStringLiteral("query%1=").arg(first) + bodies[0],
                                             QStringLiteral("query%1=").arg(first + 1) + bodies[1]}));
    }
}
