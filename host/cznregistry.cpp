#include "cznregistry.h"

#include <QSettings>

namespace
{
QString& registryFile()
{
    static QString path;
    return path;
}

// QSettings separates sub-keys with "/" only; registry paths come with "\".
QString entryKey(const QString& path, const QString& name)
{
    QString key = path;
    key.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (!key.endsWith(QLatin1Char('/')))
        key += QLatin1Char('/');
    return key + name;
}
} // namespace

CZnRegistry::CZnRegistry(const QString& path) : m_key(path) {}

bool CZnRegistry::Contains(const QString& name) const
{
    return Value(name).isValid();
}

QVariant CZnRegistry::Value(const QString& name) const
{
    if (registryFile().isEmpty())
        return QVariant();
    QSettings file(registryFile(), QSettings::IniFormat);
    return file.value(entryKey(m_key, name));
}

QString CZnRegistry::GetFile()
{
    return registryFile();
}

void CZnRegistry::SetFile(const QString& path)
{
    registryFile() = path;
}

bool CZnRegistry::SetValue(const QString& path, const QString& name, const QVariant& value)
{
    if (registryFile().isEmpty())
        return false;
    QSettings file(registryFile(), QSettings::IniFormat);
    file.setValue(entryKey(path, name), value);
    file.sync();
    return file.status() == QSettings::NoError;
}
