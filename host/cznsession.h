#pragma once

#include "cznstring.h"

#include <QString>

// One run of the host: a folder of its own where the host keeps what belongs to the run (a crash
// report among others). The folder sits in SESSIONS_ROOT/running/<name> while the run lasts and is
// filed under SESSIONS_ROOT/good or SESSIONS_ROOT/bad when it is over.
class CZnSession
{
public:
    CZnSession(QString name, QString folder) : m_name(std::move(name)), m_folder(std::move(folder)) {}

    const QString& GetName() const { return m_name; }
    // The current folder of the session.
    CZnString GetFolderPath() const { return m_folder; }

private:
    QString m_name;
    QString m_folder;
};

// The session of this run, or null when the host runs without one.
CZnSession* znSession();
