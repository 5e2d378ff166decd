// Stored hits coming back from a damaged settings file. The input is the application's settings file
// as a session end may have left it (or as anything else may have damaged it): every hit stored under
// CIP/query1..CIP/count must come back in order, none may stay behind, and what a session end keeps
// must come back whole at the next start.
#include "czncipservice_ga.h"
#include "cznhostconfiguration.h"
#include "fuzzhost.h"

#include <QSettings>

#include <cstdlib>
#include <utime.h>

namespace
{
QString settingsFile;

void require(bool condition)
{
    if (!condition)
        std::abort();
}

QString storedKey(int n)
{
    return QStringLiteral("CIP/query%1").arg(n);
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    startFuzzApplication();
    CZnHostConfiguration::ApplyDefaults();
    settingsFile = QSettings().fileName();
    QDir().mkpath(QFileInfo(settingsFile).path());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // A new time stamp for every input, so the process-wide settings cache reads the file anew.
    static time_t stamp = 1000000000;
    require(writeFile(settingsFile, data, size));
    const utimbuf times{++stamp, stamp};
    utime(QFile::encodeName(settingsFile).constData(), &times);

    // What the next start must restore, found by asking for each index in turn.
    QStringList expected;
    bool numeric = false;
    int count = 0;
    {
        const QSettings before;
        count = before.value(QStringLiteral("CIP/count")).toInt(&numeric);
        for (int n = 1; numeric && count <= 5000 && n <= count; ++n)
            if (before.contains(storedKey(n)))
                expected << before.value(storedKey(n)).toString();
    }
    const bool checkable = numeric && count <= 5000;

    QStringList kept;
    {
        CZnCIPService_GA first;
        first.StartSession();
        kept = first.Queue();
        require(!kept.isEmpty());
        if (checkable)
        {
            require(kept.mid(0, kept.size() - 1) == expected);
            QSettings after;
            require(after.value(QStringLiteral("CIP/count")).toInt() == 0);
            for (int n = 1; n <= count; ++n)
                require(!after.contains(storedKey(n)));
        }
        first.EndSession();
    }
    CZnCIPService_GA second;
    second.StartSession();
    require(second.Queue().mid(0, kept.size()) == kept);
    require(second.Queue().size() == kept.size() + 1);
    return 0;
}
