#pragma once

#include "cznstring.h"

// The host's branding and telemetry resources. Every value is settable so that tests and the host
// program's configuration file can steer what the module sees.
class CZnResources
{
public:
    // True: the telemetry module stays passive for the whole run.
    bool IsCIPSuppressed() const { return m_cipSuppressed; }
    // May be empty: the module then uses its built-in tracking identifier.
    CZnString GetTrackingId() const { return m_trackingId; }
    CZnString GetCompanyName() const { return m_companyName; }
    CZnString GetProductName() const { return m_productName; }
    CZnString GetPrivacyPolicyUrl() const { return m_privacyPolicyUrl; }
    // Host and port of the telemetry collection endpoint, "host:port".
    CZnString GetCIPEndpoint() const { return m_cipEndpoint; }
    int GetReleaseNumber() const { return m_releaseNumber; }
    double GetReleaseValue() const { return m_releaseValue; }

    void SetCIPSuppressed(bool on) { m_cipSuppressed = on; }
    void SetTrackingId(const CZnString& v) { m_trackingId = v; }
    void SetCompanyName(const CZnString& v) { m_companyName = v; }
    void SetProductName(const CZnString& v) { m_productName = v; }
    void SetPrivacyPolicyUrl(const CZnString& v) { m_privacyPolicyUrl = v; }
    void SetCIPEndpoint(const CZnString& v) { m_cipEndpoint = v; }
    void SetReleaseNumber(int v) { m_releaseNumber = v; }
    void SetReleaseValue(double v) { m_releaseValue = v; }

    // Back to the values a freshly started host has.
    void Reset() { *this = CZnResources(); }

private:
    bool m_cipSuppressed = false;
    CZnString m_trackingId;
    CZnString m_companyName = CZnString("Zinc Design Systems");
    CZnString m_productName = CZnString("ZnCAD");
    CZnString m_privacyPolicyUrl = CZnString("https://www.zncad.example/privacy/cip");
    CZnString m_cipEndpoint = CZnString("127.0.0.1:8089");
    int m_releaseNumber = 15;
    double m_releaseValue = 4.03;
};

CZnResources* GetZnResources();
