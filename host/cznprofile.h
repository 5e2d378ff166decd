#pragma once

#include "cznsettings.h"

#include <QString>

// A settings profile of the host: a named folder holding the profile's settings.
class CZnProfile
{
public:
    // The folder is created when missing; an empty folder keeps the settings in memory only.
    CZnProfile(const QString& name, const QString& folder);

    const QString& GetName() const { return m_name; }
    const QString& GetPath() const { return m_folder; }
    CZnSettings* GetSettings() { return &m_settings; }

private:
    QString m_name;
    QString m_folder;
    CZnSettings m_settings;
};
