// The host stand-in's network facility and registry, as the Google service relies on them.
#include "cznhostconfiguration.h"
#include "cznnetworkmanager.h"
#include "cznnetworkreply.h"
#include "cznregistry.h"
#include "cznsystemservices.h"
#include "hostfixture.h"
#include "testhttpserver.h"

#include <QDir>
#include <QFile>
#include <QNetworkReply>

#include <algorithm>
#include <memory>

namespace
{
const QString productKey =
    QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Zinc Design Systems\\ZnCAD x64");

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
    void TearDown() override
    {
        server.close();
        processEvents(20);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        HostFixture::TearDown();
    }

    QNetworkReply* post(CZnNetworkReply* receiver, const QByteArray& body, const QByteArray& probe = {},
                        bool synchronous = false)
    {
        CZnNetworkRequest record;
        record.receiver = receiver;
        record.request.setUrl(QUrl(QStringLiteral("http://%1/collect").arg(server.endpoint())));
        record.request.setHeader(QNetworkRequest::ContentTypeHeader, "text/plain");
        record.body = body;
        if (!probe.isEmpty())
            record.rawHeaders << qMakePair(CZnString("X-Probe"), probe);
        record.synchronous = synchronous;
        record.releaseReply = !synchronous;
        return network()->PostRequest(record);
    }

    CZnNetworkManager* network() { return GetZnSystemServices()->GetNetworkManager(); }

    TestHttpServer server;
};

void writeFile(const QString& name, const QByteArray& data)
{
    QFile file(name);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(data);
}
} // namespace

TEST_F(HostPlatform, PostsTheBodyWithItsHeadersAndReportsTheStatus)
{
    ASSERT_TRUE(server.listen());
    ReplyLog log;
    server.queueStatuses({201, 503});
    QNetworkReply* reply = post(&log, "a=1&b=2", "first");
    ASSERT_NE(reply, nullptr);
    EXPECT_TRUE(reply->isRunning()) << "the post does not block";
    ASSERT_TRUE(waitFor([&] { return log.statuses.size() == 1; }));
    EXPECT_EQ(log.uploaded, 7);
    post(&log, "c=3");
    ASSERT_TRUE(waitFor([&] { return log.statuses.size() == 2; }));
    EXPECT_EQ(log.statuses, QList<int>({201, 503}));

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].body, "a=1&b=2");
    EXPECT_EQ(requests[0].header("X-Probe"), "first");
    EXPECT_EQ(requests[0].header("Content-Type"), "text/plain");
    EXPECT_EQ(requests[1].header("X-Probe"), QByteArray());
    EXPECT_EQ(network()->PendingCount(), 0);

    // A synchronous request comes back finished.
    std::unique_ptr<QNetworkReply> finished(post(&log, "x", {}, true));
    EXPECT_TRUE(finished->isFinished());
    EXPECT_EQ(log.statuses.last(), 204);
}

TEST_F(HostPlatform, AReceiverThatIsGoneIsNotCalled)
{
    ASSERT_TRUE(server.listen());
    server.hold();
    auto log = std::make_unique<ReplyLog>();
    QNetworkReply* reply = post(log.get(), "x");
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
    // No file: no registry at all, and nothing can be written to it.
    EXPECT_FALSE(CZnRegistry(productKey).Contains("Location"));
    EXPECT_FALSE(CZnRegistry::SetValue(productKey, "Location", "C:\\x"));

    CZnRegistry::SetFile(path("registry.ini"));
    EXPECT_FALSE(CZnRegistry(productKey).Contains("Location"));
    ASSERT_TRUE(CZnRegistry::SetValue(productKey, "Location", "C:\\Program Files\\ZnCAD"));
    // Either separator opens the same key; a value is found only under its own key.
    EXPECT_EQ(CZnRegistry(productKey).Value("Location").toString(), "C:\\Program Files\\ZnCAD");
    EXPECT_EQ(CZnRegistry(QString(productKey).replace('\\', '/')).Value("Location").toString(),
              "C:\\Program Files\\ZnCAD");
    EXPECT_FALSE(CZnRegistry(productKey + "\\Sub").Contains("Location"));
    EXPECT_FALSE(CZnRegistry(productKey).Contains("Version"));

    // Written by hand and named in the host configuration.
    ASSERT_TRUE(QDir().mkpath(path("machine")));
    writeFile(path("machine/registry.ini"),
              "[" + productKey.toUtf8() + "]\nLocation=\"E:\\\\Prog\\\\App\"\n");
    writeFile(path("machine/host.ini"), "[platform]\nregistry_file=registry.ini\n");
    QString message;
    ASSERT_TRUE(CZnHostConfiguration::Load(path("machine/host.ini"), &message)) << qPrintable(message);
    EXPECT_EQ(CZnRegistry::GetFile(), path("machine/registry.ini"));
    EXPECT_EQ(CZnRegistry(productKey).Value("Location").toString(), "E:\\Prog\\App");
    CZnHostConfiguration::ApplyDefaults();
    EXPECT_TRUE(CZnRegistry::GetFile().isEmpty());
}
