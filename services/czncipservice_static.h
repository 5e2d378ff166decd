#pragma once

#include "czncipservice.h"
#include "czncipservicehelper.h"
#include "czncipservicerecord.h"

#include <QMap>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QVariant>

#include <vector>

// Keeps the telemetry on the local disk instead of sending it: every accepted record becomes one line
// in memory, and every 30 seconds the lines are appended as XML to a log file in "CIP Logs" beside the
// settings profile. Session start and end, and the crash information of a session that crashed or
// hung, go to the same log.
class CZnCIPService_Static : public QObject, public CZnCIPService, public CZnCIPServiceHelper
{
    Q_OBJECT

public:
    CZnCIPService_Static();
    ~CZnCIPService_Static() override;
    CZnCIPService_Static(const CZnCIPService_Static&) = delete;
    CZnCIPService_Static& operator=(const CZnCIPService_Static&) = delete;

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
    void StopSession(int reason, const char* crashFolder) override;
    void EndSession() override;
    CZnString GetClientId() override;

    // Read-only views for tests and diagnostics.
    const QString& LogFilePath() const { return logFilePath; }
    const QTimer& WriteTimer() const { return writeTimer; }
    const std::vector<QString>& PendingLines() const { return pendingLines; }

public slots:
    // Appends the pending lines to the log file; finished also ends the XML document.
    void writeLog(bool finished = false);

private:
    // value is accepted for symmetry with the event it comes from; the log never shows it.
    void AddLogLine(const QString& category, const QString& action, const QString& label,
                    const QVariant& value, const QMap<QString, QVariant>& extras);
    // Picks the log file when there is none yet (or it vanished). False when the host has no settings
    // profile to put the log beside: the lines then wait for a later write.
    bool EnsureLogFilePath();

    QString logFilePath;
    QString lastElement;
    QTimer writeTimer;
    CZnCIPServiceRecord record;
    std::vector<QString> pendingLines;
};
