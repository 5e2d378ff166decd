#pragma once

#include "cznstring.h"
#include "odresbuf.h"

#include <QByteArray>
#include <QMap>
#include <QPair>
#include <QString>

// The host's settings of one profile: typed values per section and key. With a file, every change is
// written through at once, so a value set survives the process.
//
// The file is line-based INI: "[section]" headers and "key=<type code>:<text>" lines, UTF-8. The store
// is meant to survive whatever it finds on disk:
// - A line it does not understand (garbage, a comment, a value without a valid type, a line cut short,
//   bytes that are not UTF-8, keys under a broken section header) is ignored when reading and kept
//   byte for byte when writing. A later write of the same key adds a proper line; it never replaces
//   or drops the line it could not read.
// - Each write reads the file again and changes only the line of the key written, so values that other
//   programs put there in the meantime are not lost either. The file is replaced atomically.
// - A file that exists but cannot be read is never written: its content is unknown, overwriting it
//   would destroy it. The store then keeps the values set in this run in memory and reports through
//   CanStore() that it cannot keep them. The same holds once a write has failed.
// - A value comes back with the type it was stored with, whatever kind the caller asks for; a caller
//   that reads it as another type gets that type's zero value (see OdResBuf).
class CZnSettings
{
public:
    // An empty file path keeps the settings in memory only.
    explicit CZnSettings(const QString& filePath = QString());

    bool HasValue(const CZnString& section, const CZnString& key) const;
    // A fresh copy of the stored value, or null when none is stored. kind is the caller's hint of the
    // expected form (1 integer, 4 text); the value comes back as it was stored.
    OdResBufPtr GetValue(const CZnString& section, const CZnString& key, int kind) const;
    // Stores a copy of value; a null value stores nothing.
    void SetValue(const CZnString& section, const CZnString& key, OdResBufPtr value);
    void RemoveValue(const CZnString& section, const CZnString& key);

    // False when what is set cannot be kept beyond this run: the file exists but cannot be read, or a
    // write to it failed, or its folder cannot be written. Memory-only settings answer true: they keep
    // values exactly as long as they were asked to.
    bool CanStore() const;

    const QString& FilePath() const { return m_filePath; }

private:
    using Key = QPair<QString, QString>;
    enum class Change
    {
        Set,
        Remove
    };
    void Load();
    // Applies one change to the file as it is on disk now.
    void Write(const Key& key, Change change, const QString& stored);

    QString m_filePath;
    // Values in their stored form, "<type code>:<text>"; decoded anew for every reader.
    QMap<Key, QString> m_values;
    bool m_unreadable = false;
    bool m_writeFailed = false;
};
