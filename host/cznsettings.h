#pragma once

#include "cznstring.h"
#include "odresbuf.h"

#include <QMap>
#include <QPair>
#include <QString>

// The host's settings of one profile: typed values per section and key. With a file, every change is
// written through at once, so a value set survives the process.
class CZnSettings
{
public:
    // An empty file path keeps the settings in memory only.
    explicit CZnSettings(const QString& filePath = QString());

    bool HasValue(const CZnString& section, const CZnString& key) const;
    // The stored value, or null when none is stored. kind is the host's hint of the expected form
    // (1 integer, 4 text); the value comes back as it was stored.
    OdResBufPtr GetValue(const CZnString& section, const CZnString& key, int kind) const;
    void SetValue(const CZnString& section, const CZnString& key, OdResBufPtr value);
    void RemoveValue(const CZnString& section, const CZnString& key);

    const QString& FilePath() const { return m_filePath; }

private:
    using Key = QPair<QString, QString>;
    void Load();
    void Save() const;

    QString m_filePath;
    QMap<Key, OdResBufPtr> m_values;
};
