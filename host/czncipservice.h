#pragma once

#include "cznstring.h"
#include "odalloc.h"

// A telemetry sink. A recorder prepares one record (SetEvent or SetScreenValue calls) and sends it
// with Send; the service decides whether and how it leaves the process.
class CZnCIPService : public OdRxHeapOperators
{
public:
    virtual ~CZnCIPService();
    virtual void SetEvent(const CZnString& category, const CZnString& action, const CZnString& label,
                          int value) = 0;
    virtual void SetScreenValue(const CZnString& screen, const CZnString& valueName, int index,
                                const CZnString& value) = 0;
    virtual void SetScreenValue(const CZnString& screen, const CZnString& valueName, int index,
                                int value) = 0;
    virtual void SetScreenValue(const CZnString& screen, const CZnString& valueName, int index,
                                double value) = 0;
    virtual void Send() = 0;
    virtual void StartSession() = 0;
    // How the previous session ended; the host's default ignores it.
    virtual void StopSession(int reason, const char* crashFolder);
    virtual void EndSession() = 0;
    virtual CZnString GetClientId() = 0;
};
