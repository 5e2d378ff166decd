#pragma once

#include "cznnetworkrequest.h"

#include <QHash>
#include <QPointer>

class QNetworkAccessManager;
class QNetworkReply;

// The host's network facility: asynchronous HTTP requests on the GUI thread, completion reported to
// the request's receiver. The access manager is made on the first request (so constructing telemetry
// needs no network) as a child of the application object, which releases it when it goes away.
class CZnNetworkManager
{
public:
    static constexpr int defaultTransferTimeoutMs = 30000;

    CZnNetworkManager() = default;
    ~CZnNetworkManager();
    CZnNetworkManager(const CZnNetworkManager&) = delete;
    CZnNetworkManager& operator=(const CZnNetworkManager&) = delete;

    // Posts record.body with the record's request and headers without blocking (unless the record
    // asks to), and returns the reply. Needs a QCoreApplication.
    QNetworkReply* PostRequest(const CZnNetworkRequest& record);

    // A request during which nothing is sent or received for this long is aborted; it then finishes
    // with an error and no HTTP status. 0 never aborts.
    int GetTransferTimeout() const { return m_transferTimeoutMs; }
    void SetTransferTimeout(int ms) { m_transferTimeoutMs = ms; }

    // Forgets every request of the receiver, so their completions are no longer reported to it.
    void Detach(CZnNetworkReply* receiver);
    // Requests whose completion has not been reported yet.
    int PendingCount() const { return m_receivers.size(); }

    // Back to a freshly started host: default timeout. Requests in flight carry on.
    void Reset() { m_transferTimeoutMs = defaultTransferTimeoutMs; }

private:
    QNetworkAccessManager* accessManager();
    void finished(QNetworkReply* reply, bool release);

    QPointer<QNetworkAccessManager> m_access;
    QHash<QNetworkReply*, CZnNetworkReply*> m_receivers;
    int m_transferTimeoutMs = defaultTransferTimeoutMs;
};
