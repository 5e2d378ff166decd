// A host run in a process of its own: it opens a session under ROOT, prints the session's name, then
//   crash  writes a crash report and is killed;   die  is killed;   clean  ends the session cleanly.
#include "cznsessionmanager.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    CZnSessionManager* sessions = GetZnSessionManager();
    if (argc != 3 || !sessions->StartSession(QString::fromLocal8Bit(argv[1])))
        return 2;
    std::printf("%s\n", qPrintable(znSession()->GetName()));
    std::fflush(stdout);
    const bool crash = std::strcmp(argv[2], "crash") == 0;
    if (crash && !sessions->WriteCrashReport())
        return 3;
    if (crash || std::strcmp(argv[2], "die") == 0)
        std::raise(SIGKILL);
    return sessions->EndSessionCleanly() ? 0 : 4;
}
