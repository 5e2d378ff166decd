// The host stand-in's network facility and registry seam, as the Google service relies on them.
#include "cznhostconfiguration.h"
#include "cznnetworkmanager.h"
#include "cznnetworkreply.h"
#include "cznregistry.h"
#include "cznsystemservices.h"
#include "hostfixture.h"
#include "testhttpserver.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QNetworkReply>

#include <algorithm>
#include <memory>

namespace
{
// Writes down every completion it is told about.
class ReplyLog : public CZnNetworkReply
{
public:
    void ReplyFinished(QNetworkReply* reply) override
    {
        statuses << reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    }
    void ReplyUploadProgress(qint64 sent, qint64) override { uploaded = std::max(uploaded, sent); }

    QList<int> statuses;
    qint64 uploaded = -1;
};

class HostPlatform : public HostFixture
{
protected:
    void SetUp() override
    {
        HostFixture::SetUp();
        ASSERT_TRUE(server.listen());
    }
    void TearDown() override
    {
        server.close();
        processEvents(20);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        HostFixture::TearDown();
    }

    CZnNetworkRequest post(CZnNetworkReply* receiver, const QByteArray& body)
    {
        CZnNetworkRequest record;
        record.receiver = receiver;
        record.request.setUrl(QUrl(QStringLiteral("http://%1/collect").arg(server.endpoint())));
        record.request.setHeader(QNetworkRequest::ContentTypeHeader, "text/plain");
        record.body = body;
        return record;
    }

    CZnNetworkManager* network() { return GetZnSystemServices()->GetNetworkManager(); }

    TestHttpServer server;
};
} // namespace

TEST_F(HostPlatform, PostsTheBodyWithItsHeadersAndReportsTheStatus)
{
    ReplyLog log;
    server.queueStatuses({201, 503});
    CZnNetworkRequest record = post(&log, "a=1&b=2");
    record.rawHeaders << qMakePair(CZnString("X-Probe"), QByteArray("first"));
    QNetworkReply* reply = network()->PostRequest(record);
    ASSERT_NE(reply, nullptr);
    EXPECT_TRUE(reply->isRunning()) << "the post does not block";
    ASSERT_TRUE(waitFor([&] { return log.statuses.size() == 1; }));
    EXPECT_EQ(log.statuses, QList<int>{201});
    EXPECT_EQ(log.uploaded, 7);

    network()->PostRequest(post(&log, "c=3"));
    ASSERT_TRUE(waitFor([&] { return log.statuses.size() == 2; }));
    EXPECT_EQ(log.statuses.last(), 503);

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].body, "a=1&b=2");
    EXPECT_EQ(requests[0].header("X-Probe"), "first");
    EXPECT_EQ(requests[0].header("Content-Type"), "text/plain");
    EXPECT_EQ(requests[1].header("X-Probe"), QByteArray());
    EXPECT_EQ(network()->PendingCount(), 0);
}

TEST_F(HostPlatform, SynchronousRequestsReturnFinished)
{
    ReplyLog log;
    CZnNetworkRequest record = post(&log, "x");
    record.synchronous = true;
    record.releaseReply = false;
    std::unique_ptr<QNetworkReply> reply(network()->PostRequest(record));
    EXPECT_TRUE(reply->isFinished());
    EXPECT_EQ(log.statuses, QList<int>{204});
}

TEST_F(HostPlatform, AReceiverThatIsGoneIsNotCalled)
{
    server.hold();
    auto log = std::make_unique<ReplyLog>();
    QNetworkReply* reply = network()->PostRequest(post(log.get(), "x"));
    ASSERT_TRUE(waitFor([&] { return server.requestCount() == 1; }));
    EXPECT_EQ(network()->PendingCount(), 1);
    log.reset();
    EXPECT_EQ(network()->PendingCount(), 0);
    bool finished = false;
    QObject::connect(reply, &QNetworkReply::finished, [&] { finished = true; });
    server.release();
    // Had the dead receiver been called, the sanitizer build would say so here.
    EXPECT_TRUE(waitFor([&] { return finished; }));
}

TEST_F(HostPlatform, RegistryValuesComeFromTheStandInFile)
{
    const QString key =
        QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Zinc Design Systems\\ZnCAD x64");
    // No file: no registry at all, and nothing can be written to it.
    EXPECT_FALSE(CZnRegistry(key).Contains("Location"));
    EXPECT_FALSE(CZnRegistry::SetValue(key, "Location", "C:\\x"));

    CZnRegistry::SetFile(path("registry.ini"));
    EXPECT_FALSE(CZnRegistry(key).Contains("Location"));
    ASSERT_TRUE(CZnRegistry::SetValue(key, "Location", "C:\\Program Files\\ZnCAD"));
    // Either separator opens the same key; a value is found only under its own key.
    EXPECT_EQ(CZnRegistry(key).Value("Location").toString(), "C:\\Program Files\\ZnCAD");
    EXPECT_EQ(CZnRegistry(QString(key).replace('\\', '/')).Value("Location").toString(),
              "C:\\Program Files\\ZnCAD");
    EXPECT_FALSE(CZnRegistry(key + "\\Sub").Contains("Location"));
    EXPECT_FALSE(CZnRegistry(key).Contains("Version"));
}

TEST_F(HostPlatform, RegistryFileCanBeWrittenByHandAndNamedInTheHostConfiguration)
{
    QFile registry(path("machine/registry.ini"));
    ASSERT_TRUE(QDir().mkpath(path("machine")));
    ASSERT_TRUE(registry.open(QIODevice::WriteOnly));
    registry.write("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Zinc Design Systems\\ZnCAD x64]\n"
                   "Location=\"E:\\\\Prog\\\\App\"\n");
    registry.close();
    QFile config(path("machine/host.ini"));
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    config.write("[platform]\nregistry_file=registry.ini\n");
    config.close();

    QString message;
    ASSERT_TRUE(CZnHostConfiguration::Load(path("machine/host.ini"), &message)) << qPrintable(message);
    EXPECT_EQ(CZnRegistry::GetFile(), path("machine/registry.ini"));
    EXPECT_EQ(CZnRegistry("HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Zinc Design Systems\\ZnCAD x64")
                  .Value("Location")
                  .toString(),
              "E:\\Prog\\App");

    CZnHostConfiguration::ApplyDefaults();
    EXPECT_TRUE(CZnRegistry::GetFile().isEmpty());
}
