// The session recorder's list of finished sessions already reported, as read back from a damaged or
// foreign reported_sessions.txt. Whatever the file holds, one pass reports each finished session that
// the file does not name, the list it writes back names both, a second pass reports nothing again.
#include "czncipimpl.h"
#include "czncipsessionrecorder.h"
#include "cznhostconfiguration.h"
#include "cznsession.h"
#include "cznsessionmanager.h"
#include "fuzzhost.h"
#include "recording.h"

#include <cstdlib>

namespace
{
QString root;
QStringList journal;

void require(bool condition)
{
    if (!condition)
        std::abort();
}

QStringList pass()
{
    journal.clear();
    CZnCIPSessionRecorder recorder;
    recorder.mainFrameCreated(nullptr);
    return journal;
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    startFuzzApplication();
    CZnHostConfiguration::ApplyDefaults();
    root = fuzzFolder() + QStringLiteral("/sessions");
    require(GetZnSessionManager()->StartSession(root));
    for (const char* finished : {"bad/b1", "good/g1"})
        require(QDir().mkpath(root + QLatin1Char('/') + QLatin1String(finished)));
    auto* cip = new CZnCIPImpl;
    delete cip->GetService();
    cip->SetService(new RecordingService(&journal));
    SetZnCIP(cip);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString reported = root + QStringLiteral("/reported_sessions.txt");
    require(writeFile(reported, data, size));
    const QStringList first = pass();
    // One line per event sent: the bad session sends three, the good one two, none if already named.
    const int events = first.size();
    require(events == 0 || events == 2 || events == 3 || events == 5);

    const QByteArray written = readFile(reported);
    const QList<QByteArray> names = written.split('\n');
    require(names.contains("b1") && names.contains("g1"));
    // The list need not come back byte for byte: a line of undecodable bytes may grow past the longest
    // name when written again, and is then dropped. No session is reported twice either way.
    require(pass().isEmpty());
    const QList<QByteArray> again = readFile(reported).split('\n');
    require(again.contains("b1") && again.contains("g1"));
    return 0;
}
