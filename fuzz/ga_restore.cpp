// Stored hits coming back from a damaged settings file. The input is the application's settings file
// as a session end may have left it (or as anything else may have damaged it): every hit stored under
// CIP/query1..CIP/count must come back in order, none may stay behind, and what a session end keeps
// must come back at the next start.
#include "czncipservice_ga.h"
#include "cznhostconfiguration.h"
#include "fuzzhost.h"

#include <QSettings>

#include <cstdio>
#include <cstdlib>
#include <utime.h>

namespace
{
QString settingsFile;

void require(bool condition, const char* what, const QStringList& queue = {})
{
    if (condition)
        return;
    const QByteArray text = queue.join(QLatin1Char('|')).toUtf8().toPercentEncoding("=&|");
    fprintf(stderr, "ga_restore: %s; queue: %s\n", what, text.constData());
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
    require(writeFile(settingsFile, data, size), "cannot write the settings file");
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
        require(!kept.isEmpty(), "no session start queued");
        if (checkable)
        {
            require(kept.mid(0, kept.size() - 1) == expected, "restored hits differ from those stored", kept);
            QSettings after;
            require(after.value(QStringLiteral("CIP/count")).toInt() == 0, "count not reset");
            for (int n = 1; n <= count; ++n)
                require(!after.contains(storedKey(n)), "a restored hit stayed stored");
        }
        first.EndSession();
    }
    CZnCIPService_GA second;
    second.StartSession();
    // Each hit kept comes back, in order. A damaged section header can hide stored hits from a start
    // (the settings cache finds some keys only once the whole file is parsed); they come back later.
    int at = 0;
    for (const QString& hit : second.Queue())
        at += at < kept.size() && hit == kept[at];
    require(at == kept.size(), "a hit kept at the session end did not come back", kept + second.Queue());
    return 0;
}
