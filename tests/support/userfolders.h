#pragma once

#include <QByteArray>

#include <cstdlib>

// Points HOME and the per-user XDG folders below root, so that a test or benchmark never reads or
// writes the user's own settings, profiles or sessions. Call it before the QApplication exists.
inline void redirectUserFolders(const QByteArray& root)
{
    setenv("HOME", root.constData(), 1);
    setenv("XDG_CONFIG_HOME", (root + "/config").constData(), 1);
    setenv("XDG_DATA_HOME", (root + "/data").constData(), 1);
    setenv("XDG_CACHE_HOME", (root + "/cache").constData(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
}
