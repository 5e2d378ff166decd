#pragma once

#include "czndocumentmanager.h"
#include "cznnetworkmanager.h"
#include "cznprofile.h"
#include "cznstring.h"

#include <QPointer>
#include <QWidget>

#include <memory>

// The host's system services: documents, the settings profile, version facts, the main window.
// Every result is settable so that tests and the host program's configuration can steer it.
class CZnSystemServices
{
public:
    CZnSystemServices() { Reset(); }

    CZnDocumentManager* GetDocumentManager() { return &m_documents; }

    // The current settings profile, or null when the host has none at this moment.
    CZnProfile* GetProfile() { return m_profile.get(); }
    // Path of the current profile's folder; empty without a profile.
    CZnString GetProfilePath() const { return m_profile ? m_profile->GetPath() : QString(); }

    CZnString GetVersionString() const { return m_versionString; }
    CZnString GetVersionText() const { return m_versionText; }
    CZnString GetBuildText() const { return m_buildText; }
    // False when the host has no version numbers.
    bool GetVersionNumbers(int& major, int& servicePack, int& minor, int& build) const;

    // True when an interactive question may be shown now. The host puts no question whose answer the
    // current profile's settings could not keep (an unreadable or unwritable settings file): asking
    // would only bring the same question back on every run.
    bool CanAskUser() const { return m_canAskUser && (!m_profile || m_profile->GetSettings()->CanStore()); }
    QWidget* GetMainWindow() const { return m_mainWindow.data(); }
    // The network facility: asynchronous HTTP requests with completion callbacks.
    CZnNetworkManager* GetNetworkManager() { return &m_network; }

    // A profile in folder (settings kept in its settings file); an empty name removes the profile.
    void SetProfile(const QString& name, const QString& folder);
    void ClearProfile() { m_profile.reset(); }
    void SetVersionString(const CZnString& v) { m_versionString = v; }
    void SetVersionText(const CZnString& v) { m_versionText = v; }
    void SetBuildText(const CZnString& v) { m_buildText = v; }
    void SetVersionNumbers(int major, int servicePack, int minor, int build);
    void ClearVersionNumbers() { m_hasVersionNumbers = false; }
    void SetCanAskUser(bool on) { m_canAskUser = on; }
    void SetMainWindow(QWidget* window) { m_mainWindow = window; }

    // Back to the values a freshly started host has (no profile, default versions).
    void Reset();

private:
    CZnDocumentManager m_documents;
    std::unique_ptr<CZnProfile> m_profile;
    CZnString m_versionString;
    CZnString m_versionText;
    CZnString m_buildText;
    bool m_hasVersionNumbers = true;
    int m_versionNumbers[4] = {};
    bool m_canAskUser = true;
    QPointer<QWidget> m_mainWindow;
    CZnNetworkManager m_network;
};

CZnSystemServices* GetZnSystemServices();
