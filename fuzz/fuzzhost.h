#pragma once

#include "userfolders.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

// The process's own temporary folder: HOME, the per-user folders and everything a harness writes lie
// below it, never in the user's own folders. Removed when the process ends normally.
inline const QString& fuzzFolder()
{
    // In memory where the system offers it: the stores sync every file they replace.
    const QString memory = QStringLiteral("/dev/shm");
    static QTemporaryDir dir((QFileInfo(memory).isWritable() ? memory : QDir::tempPath()) +
                             QStringLiteral("/zncip-fuzz-XXXXXX"));
    static const QString path = dir.path();
    return path;
}

// An offscreen application under the host's names, created once per process before the first input.
inline void startFuzzApplication()
{
    const QByteArray root = fuzzFolder().toLocal8Bit();
    redirectUserFolders(root);
    setenv("XDG_RUNTIME_DIR", (root + "/run").constData(), 1);
    QApplication::setOrganizationName(QStringLiteral("Zinc Design Systems"));
    QApplication::setApplicationName(QStringLiteral("ZnCAD"));
    static int argc = 1;
    static char name[] = "zncip-fuzz";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
}

inline bool writeFile(const QString& path, const uint8_t* data, size_t size)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size)) == qint64(size);
}

inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
