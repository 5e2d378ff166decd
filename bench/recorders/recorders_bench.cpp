// Figures of the recorders, each beside a floor measured in the same run:
//  - one command through the host editor's dispatch and the commands recorder until the Google
//    service holds its hit in the queue, against the same path ending in a service that drops it;
//  - one reporting pass over 10,000 finished sessions (5,000 bad, half of them with a crash report,
//    and 5,000 good): the first pass that reports them all, and a later pass that finds them known.
//
// usage: zncip-recorders-bench [benchmark options]

#include "czncipcommandsrecorder.h"
#include "czncipimpl.h"
#include "czncipservice_ga.h"
#include "czncipsessionrecorder.h"
#include "cznsessionmanager.h"
#include "cznsystemservices.h"
#include "odeditor.h"
#include "userfolders.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <cstdlib>
#include <memory>

namespace
{
// A service that takes every record and keeps nothing: the floor of a recorder's own cost.
class DroppingService : public CZnCIPService
{
public:
    void SetEvent(const CZnString&, const CZnString&, const CZnString& label, int) override
    {
        benchmark::DoNotOptimize(label.length());
    }
    void SetScreenValue(const CZnString&, const CZnString&, int, const CZnString&) override {}
    void SetScreenValue(const CZnString&, const CZnString&, int, int) override {}
    void SetScreenValue(const CZnString&, const CZnString&, int, double) override {}
    void Send() override { ++sent; }
    void StartSession() override {}
    void EndSession() override {}
    CZnString GetClientId() override { return CZnString(); }
    long sent = 0;
};

// A published core object with either its own Google service or the dropping one.
class Published
{
public:
    explicit Published(bool google)
    {
        if (!google)
        {
            CZnCIPService* own = m_cip.GetService();
            m_cip.SetService(new DroppingService);
            delete own;
        }
        SetZnCIP(&m_cip);
    }
    ~Published() { SetZnCIP(nullptr); }
    CZnCIPImpl& cip() { return m_cip; }

private:
    CZnCIPImpl m_cip;
};

constexpr int queueRefill = 4096;

void commandToService(benchmark::State& state, bool google)
{
    OdStaticRxObject<OdEdCommand> command(OdString(u"LINE"), OdString(u"ZNCAD"));
    CZnCIPCommandsRecorder recorder;
    recorder.Start();
    auto published = std::make_unique<Published>(google);
    int queued = 0;
    for (auto _ : state)
    {
        odedEditor()->fireCommandWillStart(&command, nullptr);
        if (++queued == queueRefill)
        {
            // The queue is drained only by the network; a fresh service keeps it from growing
            // without end.
            state.PauseTiming();
            auto* ga = dynamic_cast<CZnCIPService_GA*>(published->cip().GetService());
            if (google && (!ga || ga->Queue().size() != queued))
            {
                state.SkipWithError("the commands did not reach the Google service's queue");
                break;
            }
            published.reset();
            published = std::make_unique<Published>(google);
            queued = 0;
            state.ResumeTiming();
        }
    }
    recorder.Stop();
    state.SetItemsProcessed(state.iterations());
}

void BM_CommandToQueuedHit(benchmark::State& state)
{
    commandToService(state, true);
}
BENCHMARK(BM_CommandToQueuedHit);

void BM_CommandToDroppingService(benchmark::State& state)
{
    commandToService(state, false);
}
BENCHMARK(BM_CommandToDroppingService);

// A sessions root with 10,000 finished sessions and this run's session in it.
class Sessions
{
public:
    static constexpr int count = 10000;

    Sessions()
    {
        for (int i = 0; i < count / 2; ++i)
        {
            const QString bad =
                m_dir.filePath(QStringLiteral("bad/20250101-%1-4242").arg(i, 6, 10, QLatin1Char('0')));
            QDir().mkpath(bad);
            if (i % 2 == 0)
                QFile(bad + QStringLiteral("/crashrpt.xml")).open(QIODevice::WriteOnly);
            QDir().mkpath(
                m_dir.filePath(QStringLiteral("good/20250102-%1-4242").arg(i, 6, 10, QLatin1Char('0'))));
        }
        GetZnSessionManager()->StartSession(m_dir.path());
    }
    ~Sessions() { GetZnSessionManager()->Reset(); }
    QString reported() const { return m_dir.filePath(QStringLiteral("reported_sessions.txt")); }

private:
    QTemporaryDir m_dir;
};

void sessionPass(benchmark::State& state, bool google, bool known)
{
    Sessions sessions;
    if (known)
    {
        // A run before this one reported them all.
        Published published(false);
        CZnCIPSessionRecorder().mainFrameCreated(nullptr);
    }
    for (auto _ : state)
    {
        state.PauseTiming();
        if (!known)
            QFile::remove(sessions.reported());
        auto published = std::make_unique<Published>(google);
        CZnCIPSessionRecorder recorder;
        state.ResumeTiming();

        recorder.mainFrameCreated(nullptr);

        state.PauseTiming();
        if (recorder.ReportedSessions().size() != Sessions::count)
        {
            state.SkipWithError("the pass did not learn every finished session");
            break;
        }
        published.reset();
        state.ResumeTiming();
    }
}

void BM_SessionPassFirst_Google(benchmark::State& state)
{
    sessionPass(state, true, false);
}
BENCHMARK(BM_SessionPassFirst_Google)->Unit(benchmark::kMillisecond);

void BM_SessionPassFirst_Dropping(benchmark::State& state)
{
    sessionPass(state, false, false);
}
BENCHMARK(BM_SessionPassFirst_Dropping)->Unit(benchmark::kMillisecond);

void BM_SessionPassAllKnown(benchmark::State& state)
{
    sessionPass(state, true, true);
}
BENCHMARK(BM_SessionPassAllKnown)->Unit(benchmark::kMillisecond);
} // namespace

int main(int argc, char** argv)
{
    // Nothing of the user's own: settings, profile and data live in a folder removed at the end.
    QTemporaryDir home;
    redirectUserFolders(home.path().toLocal8Bit());
    QApplication::setOrganizationName(QStringLiteral("Zinc Design Systems"));
    QApplication::setApplicationName(QStringLiteral("ZnCAD"));
    QApplication app(argc, argv);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home.filePath("config"));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, home.filePath("config"));
    GetZnSystemServices()->SetProfile(QStringLiteral("Bench"), home.filePath("profile"));

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
