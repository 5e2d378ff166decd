#pragma once

#include "czncipservice.h"

// A sink that accepts everything and sends nothing. Kept so that a build can switch its telemetry off
// by installing this service instead of a real one.
class CZnCIPService_Revulytics : public CZnCIPService
{
public:
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

private:
    CZnString m_clientId; // never set: this sink has no client
};
