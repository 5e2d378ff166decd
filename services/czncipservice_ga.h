#pragma once

#include "czncipservice.h"
#include "czncipservicehelper.h"
#include "cznnetworkreply.h"

#include <QNetworkReply>
#include <QNetworkRequest>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QUrlQuery>

// Turns each accepted record into a Measurement Protocol hit and sends the hits, one POST each, oldest
// first: on a 30-second timer, and at once after each success. Unsent hits go to the application
// settings when a session ends and come back when the next one starts.
class CZnCIPService_GA : public QObject,
                         public CZnCIPService,
                         public CZnNetworkReply,
                         public CZnCIPServiceHelper
{
    Q_OBJECT

public:
    CZnCIPService_GA();
    ~CZnCIPService_GA() override;
    CZnCIPService_GA(const CZnCIPService_GA&) = delete;
    CZnCIPService_GA& operator=(const CZnCIPService_GA&) = delete;

    // CZnCIPService
    void SetEvent(const CZnString& category, const CZnString& action, const CZnString& label,
                  int value) override;
    void SetScreenValue(const CZnString& screen, const CZnString& valueName, int index,
                        const CZnString& value) override;
    void SetScreenValue(const CZnString& screen, const CZnString& valueName, int index, int value) override;
    void SetScreenValue(const CZnString& screen, const CZnString& valueName, int index,
                        double value) override;
    void Send() override;
    void StartSession() override;
    void EndSession() override;
    CZnString GetClientId() override;

    // CZnNetworkReply
    void ReplyFinished(QNetworkReply* reply) override;
    void ReplyUploadProgress(qint64 sent, qint64 total) override;

    // The custom dimension or metric parameter that a screen value's index is sent as; empty for an
    // index outside 0 to 23.
    static const QString& ParameterName(int index);
    // True when the application folder does not lie under the registered location. Both may use
    // either separator; the comparison ignores case.
    static bool IsOutside(const QString& location, const QString& applicationDir);

    // Read-only views for tests and diagnostics.
    const QStringList& Queue() const { return m_queue; }
    bool IsBusy() const { return m_busy; }
    bool IsOutsideInstallation() const { return m_outsideInstallation; }
    QTimer& SendTimer() { return m_sendTimer; }
    const QNetworkRequest& Request() const { return m_request; }
    const CZnCIPServiceRecord& Record() const { return m_record; }
    QNetworkReply* PendingReply() const { return m_pendingReply.data(); }

signals:
    void postNextMessage();

public slots:
    void postMessage();

private:
    QUrlQuery head(const QString& hitType);
    void queueEvent(const CZnCIPServiceRecord& record);
    void queueScreenView(const CZnCIPServiceRecord& record);
    void queueSessionEvent(const QString& action, const QString& sc);
    void enqueue(const QUrlQuery& hit);
    void persist();
    void restore();

    CZnString m_applicationName;
    CZnString m_applicationVersion;
    CZnString m_trackingId;
    CZnString m_userLanguage;
    bool m_busy = false;
    QStringList m_queue;
    QTimer m_sendTimer;
    QNetworkRequest m_request;
    CZnString m_clientId;
    CZnCIPServiceRecord m_record;
    QPointer<QNetworkReply> m_pendingReply;
    bool m_outsideInstallation = false;
    // The hit in flight is still the head of the queue (a session end may have taken it away).
    bool m_headInFlight = false;
};
