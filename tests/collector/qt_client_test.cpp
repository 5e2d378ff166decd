// The collector against Qt's own HTTP client, sending what the module sends the way it sends it:
// QUrlQuery bodies in FullyEncoded form, the module's headers, keep-alive while more hits wait.

#include "collector_fixture.h"
#include "form.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>

#include <gtest/gtest.h>

namespace zncip::collector::test
{
namespace
{

QByteArray moduleBody(const QString& label)
{
    QUrlQuery q;
    const std::pair<const char*, QString> items[] = {{"v", "1"},
                                                     {"tid", "UA-582047-16"},
                                                     {"cid", "35009a79-1a05-49d7-b876-2b884d0f825b"},
                                                     {"t", "event"},
                                                     {"ul", "en-us"},
                                                     {"qt", "1"},
                                                     {"an", "App SP2 x64"},
                                                     {"av", "1.0"},
                                                     {"ec", "Commands"},
                                                     {"ea", "Execute"},
                                                     {"el", label},
                                                     {"ev", "1"}};
    for (const auto& [key, value] : items)
        q.addQueryItem(key, value);
    return q.query(QUrl::FullyEncoded).toUtf8();
}

int postLikeModule(QNetworkAccessManager& manager, uint16_t port, const QByteArray& body, bool moreWaiting)
{
    QNetworkRequest request(QUrl(QString("http://127.0.0.1:%1/collect").arg(port), QUrl::TolerantMode));
    request.setHeader(QNetworkRequest::ContentTypeHeader, "application/x-www-form-urlencoded");
    request.setHeader(QNetworkRequest::UserAgentHeader,
                      "App SP2 x64/1.0 (WIN; en_US) Ostrevan/1.0 (Qt/5.12.3)");
    request.setRawHeader("Connection", moreWaiting ? "keep-alive" : "close");
    request.setHeader(QNetworkRequest::ContentLengthHeader, body.size());
    QNetworkReply* reply = manager.post(request, body);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray type = reply->header(QNetworkRequest::ContentTypeHeader).toByteArray();
    EXPECT_TRUE(status != 200 || type == "image/gif") << type.toStdString();
    reply->deleteLater();
    return status;
}

TEST(QtClient, QueuedHitsArriveByteForByte)
{
    RunningServer s;
    QNetworkAccessManager manager;
    const QString labels[] = {QStringLiteral("LINE (GROUPA)"), QString::fromUtf8("ÖFFNEN (Datei) 図面"),
                              QStringLiteral("C++ (TOOLS)")};
    std::vector<QByteArray> sent;
    for (int i = 0; i < 3; ++i)
    {
        sent.push_back(moduleBody(labels[i]));
        EXPECT_EQ(postLikeModule(manager, s.port(), sent.back(), i < 2), 200);
    }
    const auto hits = s.hits();
    ASSERT_EQ(hits.size(), 3u);
    for (int i = 0; i < 3; ++i)
    {
        EXPECT_EQ(hits[i].body, sent[i].toStdString());
        EXPECT_TRUE(hits[i].accepted) << hits[i].reason;
        EXPECT_EQ(hits[i].userAgent, "App SP2 x64/1.0 (WIN; en_US) Ostrevan/1.0 (Qt/5.12.3)");
    }
    auto label = [](const std::string& body)
    {
        for (const FormField& f : decodeForm(body).fields)
            if (f.name == "el")
                return f.value;
        return std::string();
    };
    EXPECT_EQ(label(hits[1].body), "ÖFFNEN (Datei) 図面");
    EXPECT_EQ(label(hits[2].body), "C   (TOOLS)"); // '+' left unencoded by the module reads as a blank
}

} // namespace
} // namespace zncip::collector::test

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
