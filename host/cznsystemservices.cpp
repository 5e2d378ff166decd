#include "cznsystemservices.h"

bool CZnSystemServices::GetVersionNumbers(int& major, int& servicePack, int& minor, int& build) const
{
    if (!m_hasVersionNumbers)
        return false;
    major = m_versionNumbers[0];
    servicePack = m_versionNumbers[1];
    minor = m_versionNumbers[2];
    build = m_versionNumbers[3];
    return true;
}

void CZnSystemServices::SetProfile(const QString& name, const QString& folder)
{
    m_profile.reset();
    if (!name.isEmpty())
        m_profile = std::make_unique<CZnProfile>(name, folder);
}

void CZnSystemServices::SetVersionNumbers(int major, int servicePack, int minor, int build)
{
    m_hasVersionNumbers = true;
    m_versionNumbers[0] = major;
    m_versionNumbers[1] = servicePack;
    m_versionNumbers[2] = minor;
    m_versionNumbers[3] = build;
}

void CZnSystemServices::Reset()
{
    m_profile.reset();
    m_versionString = CZnString("21.2.1");
    m_versionText = CZnString("ZnCAD 21.2 SP1");
    m_buildText = CZnString("1520");
    SetVersionNumbers(21, 1, 2, 1520);
    m_canAskUser = true;
    m_mainWindow = nullptr;
    m_network.Reset();
}

CZnSystemServices* GetZnSystemServices()
{
    static CZnSystemServices services;
    return &services;
}
