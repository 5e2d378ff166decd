// A host run in a process of its own, for the session tests: it opens a session under ROOT and then
//   crash  writes a crash report and is killed;   die   is killed;
//   clean  ends the session cleanly;              hold  waits for a line on stdin, then ends cleanly.
// It prints the session's name first.
#include "cznsessionmanager.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 3)
        return 2;
    CZnSessionManager* sessions = GetZnSessionManager();
    if (!sessions->StartSession(QString::fromLocal8Bit(argv[1])))
        return 3;
    std::printf("%s\n", qPrintable(znSession()->GetName()));
    std::fflush(stdout);
    const char* mode = argv[2];
    if (std::strcmp(mode, "crash") == 0 && !sessions->WriteCrashReport())
        return 4;
    if (std::strcmp(mode, "crash") == 0 || std::strcmp(mode, "die") == 0)
        std::raise(SIGKILL);
    if (std::strcmp(mode, "hold") == 0)
    {
        char line[16];
        if (!std::fgets(line, sizeof line, stdin))
            return 5;
    }
    return sessions->EndSessionCleanly() ? 0 : 6;
}
