#pragma once

#include "cznstring.h"

#include <QElapsedTimer>
#include <QtGlobal>

class CZnCIPRecorder;
class CZnCIPService;

// A stopwatch with an anonymous identifier, kept by the CIP object per key (for documents: the
// document pointer's value).
struct TimerEntry
{
    CZnString id;
    QElapsedTimer timer;
};

// The telemetry object the host publishes process-wide. Recorders reach the active service through it.
class CZnCIP
{
public:
    virtual bool IsEnabled() = 0;
    virtual void SetEnabled(bool on) = 0;
    virtual CZnString& GetClientId() = 0;
    virtual TimerEntry& GetTimer(quint64 key) = 0;
    virtual void AddRecorder(CZnCIPRecorder* recorder) = 0;
    virtual void RemoveRecorder(CZnCIPRecorder* recorder) = 0;
    virtual void SetService(CZnCIPService* service) = 0;
    virtual CZnCIPService* GetService() = 0;
    virtual void StartSession() = 0;
    // reason: 1 the session hung, 2 it crashed, anything else a normal end; crashFolder may be null.
    virtual void StopSession(int reason, const char* crashFolder) = 0;
    virtual void EndSession() = 0;

protected:
    ~CZnCIP() = default;
};

// The published CIP object, or null when none is published.
CZnCIP* GetZnCIP();
void SetZnCIP(CZnCIP* cip);
