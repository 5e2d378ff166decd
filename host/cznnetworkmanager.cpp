#include "cznnetworkmanager.h"

#include "cznnetworkreply.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>

CZnNetworkManager::~CZnNetworkManager()
{
    // Normally the application object has taken the access manager with it already.
    delete m_access.data();
}

QNetworkAccessManager* CZnNetworkManager::accessManager()
{
    if (!m_access)
        m_access = new QNetworkAccessManager(QCoreApplication::instance());
    return m_access;
}

QNetworkReply* CZnNetworkManager::PostRequest(const CZnNetworkRequest& record)
{
    QNetworkRequest request = record.request;
    for (const auto& header : record.rawHeaders)
        request.setRawHeader(header.first.toQString().toLatin1(), header.second);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         record.maxRedirects > 0 ? QNetworkRequest::NoLessSafeRedirectPolicy
                                                 : QNetworkRequest::ManualRedirectPolicy);
    if (record.maxRedirects > 0)
        request.setMaximumRedirectsAllowed(record.maxRedirects);

    QNetworkAccessManager* access = accessManager();
    QNetworkReply* reply = access->post(request, record.body);
    m_receivers.insert(reply, record.receiver);

    const bool release = record.releaseReply;
    QObject::connect(reply, &QNetworkReply::finished, access,
                     [this, reply, release] { finished(reply, release); });
    QObject::connect(reply, &QNetworkReply::uploadProgress, access,
                     [this, reply](qint64 sent, qint64 total)
                     {
                         if (CZnNetworkReply* receiver = m_receivers.value(reply))
                             receiver->ReplyUploadProgress(sent, total);
                     });

    if (m_transferTimeoutMs > 0)
    {
        // Qt 5.12 has no transfer timeout of its own: a stalled request is aborted here, and any
        // traffic in either direction restarts the count.
        auto* stall = new QTimer(reply);
        stall->setSingleShot(true);
        stall->setInterval(m_transferTimeoutMs);
        QObject::connect(stall, &QTimer::timeout, reply, &QNetworkReply::abort);
        QObject::connect(reply, &QNetworkReply::uploadProgress, stall, qOverload<>(&QTimer::start));
        QObject::connect(reply, &QNetworkReply::downloadProgress, stall, qOverload<>(&QTimer::start));
        QObject::connect(reply, &QNetworkReply::finished, stall, &QTimer::stop);
        stall->start();
    }

    if (record.synchronous && !reply->isFinished())
    {
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    return reply;
}

void CZnNetworkManager::finished(QNetworkReply* reply, bool release)
{
    // Taken out before the receiver runs: it may well post the next request from inside the call.
    CZnNetworkReply* receiver = m_receivers.take(reply);
    // A failed request is worth a line in the host's log: nothing else tells why hits waited.
    if (reply->error() != QNetworkReply::NoError)
        qWarning("request to %s failed: %s", qPrintable(reply->url().toString()),
                 qPrintable(reply->errorString()));
    if (receiver)
        receiver->ReplyFinished(reply);
    if (release)
        reply->deleteLater();
}

void CZnNetworkManager::Detach(CZnNetworkReply* receiver)
{
    for (auto it = m_receivers.begin(); it != m_receivers.end();)
    {
        if (it.value() == receiver)
            it = m_receivers.erase(it);
        else
            ++it;
    }
}
