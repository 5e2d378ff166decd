#include "cznprofile.h"

#include <QDir>

namespace
{
QString settingsFile(const QString& folder)
{
    if (folder.isEmpty())
        return QString();
    QDir().mkpath(folder);
    return QDir(folder).filePath(QStringLiteral("settings.ini"));
}
} // namespace

CZnProfile::CZnProfile(const QString& name, const QString& folder)
    : m_name(name), m_folder(folder), m_settings(settingsFile(folder))
{
}
