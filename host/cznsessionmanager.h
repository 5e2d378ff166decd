#pragma once

#include "cznsession.h"

#include <QLockFile>
#include <QString>

#include <memory>

// Keeps the host's session folders under a sessions root:
//   ROOT/running/<name>  the sessions that run now, each locked by its process;
//   ROOT/good/<name>     sessions that ended cleanly;
//   ROOT/bad/<name>      sessions whose process died, with "crashrpt.xml" when it wrote a crash report.
// A session's name is the local start time and the process id, "yyyyMMdd-hhmmss-<pid>".
class CZnSessionManager
{
public:
    CZnSessionManager();
    ~CZnSessionManager();
    CZnSessionManager(const CZnSessionManager&) = delete;
    CZnSessionManager& operator=(const CZnSessionManager&) = delete;

    // ROOT in the per-user data folder.
    static QString DefaultRoot();
    const QString& GetRoot() const { return m_root; }
    // Used by the next StartSession.
    void SetRoot(const QString& root) { m_root = root; }

    // Files the sessions under ROOT/running whose process is gone under ROOT/bad, then opens a new
    // session folder for this run. False, with no session, when one is already open or the folder
    // cannot be created.
    bool StartSession();
    bool StartSession(const QString& root);
    // Moves the current session to ROOT/good; afterwards there is no session. False when there was
    // none or the folder could not be moved (the session is closed all the same).
    bool EndSessionCleanly();
    // Writes "crashrpt.xml" into the current session's folder; the host calls it when it is about to
    // die, so that the next run files the session as bad with a crash report. False when there is no
    // session or the file cannot be written.
    bool WriteCrashReport();
    // Files under ROOT/bad every session folder under ROOT/running that no live process holds;
    // returns how many were filed.
    int FileAbandonedSessions();

    CZnSession* CurrentSession() const { return m_current.get(); }
    // Forgets the current session without moving it (as if the process had died) and goes back to the
    // default root.
    void Reset();

private:
    QString m_root;
    std::unique_ptr<CZnSession> m_current;
    std::unique_ptr<QLockFile> m_lock;
};

CZnSessionManager* GetZnSessionManager();
