#include "cznsettings.h"

#include <QSettings>
#include <QStringList>

namespace
{
// Stored form of one value: "<type code>:<text>", so integers and strings come back with their type.
QString encode(const OdResBuf& value)
{
    switch (value.restype())
    {
    case OdResBuf::kRtInt32:
    case OdResBuf::kRtInt16:
        return QString::number(value.restype()) + ':' + QString::number(value.getInt32());
    case OdResBuf::kRtDouble:
        return QString::number(value.restype()) + ':' + QString::number(value.getDouble(), 'g', 17);
    default:
        return QString::number(value.restype()) + ':' + CZnString(value.getString()).toQString();
    }
}

OdResBufPtr decode(const QString& stored)
{
    const int colon = stored.indexOf(':');
    bool ok = false;
    const int type = stored.left(colon).toInt(&ok);
    if (colon < 0 || !ok)
        return OdResBufPtr();
    const QString text = stored.mid(colon + 1);
    OdResBufPtr value = OdResBuf::newRb(type);
    switch (type)
    {
    case OdResBuf::kRtInt32:
    case OdResBuf::kRtInt16:
        value->setInt32(text.toInt(&ok));
        break;
    case OdResBuf::kRtDouble:
        value->setDouble(text.toDouble(&ok));
        break;
    default:
        value->setString(CZnString(text).toOdString());
        ok = true;
    }
    return ok ? value : OdResBufPtr();
}
} // namespace

CZnSettings::CZnSettings(const QString& filePath) : m_filePath(filePath)
{
    Load();
}

bool CZnSettings::HasValue(const CZnString& section, const CZnString& key) const
{
    return m_values.contains(Key(section.toQString(), key.toQString()));
}

OdResBufPtr CZnSettings::GetValue(const CZnString& section, const CZnString& key, int) const
{
    return m_values.value(Key(section.toQString(), key.toQString()));
}

void CZnSettings::SetValue(const CZnString& section, const CZnString& key, OdResBufPtr value)
{
    if (!value)
        return;
    m_values.insert(Key(section.toQString(), key.toQString()), value);
    Save();
}

void CZnSettings::RemoveValue(const CZnString& section, const CZnString& key)
{
    if (m_values.remove(Key(section.toQString(), key.toQString())))
        Save();
}

void CZnSettings::Load()
{
    if (m_filePath.isEmpty())
        return;
    QSettings file(m_filePath, QSettings::IniFormat);
    for (const QString& section : file.childGroups())
    {
        file.beginGroup(section);
        for (const QString& key : file.childKeys())
            if (OdResBufPtr value = decode(file.value(key).toString()))
                m_values.insert(Key(section, key), value);
        file.endGroup();
    }
}

void CZnSettings::Save() const
{
    if (m_filePath.isEmpty())
        return;
    QSettings file(m_filePath, QSettings::IniFormat);
    file.clear();
    for (auto it = m_values.cbegin(); it != m_values.cend(); ++it)
        file.setValue(it.key().first + '/' + it.key().second, encode(*it.value()));
    file.sync();
}
