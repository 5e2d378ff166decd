#pragma once

#include <QString>
#include <QVariant>

// The platform seam for registry values. Here an INI file stands in for the registry: a key path such
// as HKEY_LOCAL_MACHINE\SOFTWARE\Vendor\Product is a section of that name and a value is an entry in
// it. Without a file (the default) every key is empty, as on a machine where nothing was installed.
class CZnRegistry
{
public:
    // Opens the key at path ("\" or "/" separated) for reading.
    explicit CZnRegistry(const QString& path);

    bool Contains(const QString& name) const;
    // The value, or an invalid QVariant when the key does not hold it.
    QVariant Value(const QString& name) const;

    // The file standing in for the registry; empty: no registry at all.
    static QString GetFile();
    static void SetFile(const QString& path);
    // Writes a value into the stand-in file, as an installer would (tests and set-up scripts).
    static bool SetValue(const QString& path, const QString& name, const QVariant& value);

private:
    QString m_key;
};
