#pragma once

// What recorders hand to their service, written down so that tests can compare it: a service and a
// recorder that keep a journal of their calls, and a published CIP object that uses the service.
#include "czncipannotationdatarecord.h"
#include "cznciprecorder.h"
#include "czncipservice.h"
#include "cznincrementaltimermanager.h"
#include "cznsystemvariables.h"
#include "hostfixture.h"
#include "qtprinting.h"

#include <QStringList>

#include <memory>
#include <utility>

// A service that writes down every call it receives, one line each, e.g.
// "SetEvent Commands|Execute|LINE (GROUPA)|1", "SetScreenValue Drawing|Name|1|s:{...}", "Send".
class RecordingService : public CZnCIPService
{
public:
    explicit RecordingService(QStringList* journal = nullptr) : m_journal(journal ? journal : &m_own) {}

    using S = const CZnString&;
    void SetEvent(S category, S action, S label, int value) override
    {
        add(QStringLiteral("SetEvent %1|%2|%3|%4")
                .arg(category.toQString(), action.toQString(), label.toQString())
                .arg(value));
    }
    void SetScreenValue(S s, S n, int i, S v) override
    {
        value(s, n, i, QStringLiteral("s:") + v.toQString());
    }
    void SetScreenValue(S s, S n, int i, int v) override { value(s, n, i, QStringLiteral("i:%1").arg(v)); }
    void SetScreenValue(S s, S n, int i, double v) override { value(s, n, i, QStringLiteral("d:%1").arg(v)); }
    void Send() override { add(QStringLiteral("Send")); }
    void StartSession() override { add(QStringLiteral("StartSession")); }
    void StopSession(int reason, const char* folder) override
    {
        add(QStringLiteral("StopSession %1|%2").arg(reason).arg(QString::fromUtf8(folder ? folder : "null")));
    }
    void EndSession() override { add(QStringLiteral("EndSession")); }
    CZnString GetClientId() override { return CZnString("recording-client"); }

    const QStringList& calls() const { return *m_journal; }
    void clear() { m_journal->clear(); }

private:
    void value(S screen, S name, int index, const QString& typed)
    {
        add(QStringLiteral("SetScreenValue %1|%2|%3|").arg(screen.toQString(), name.toQString()).arg(index) +
            typed);
    }
    void add(const QString& line) { m_journal->append(line); }

    QStringList m_own;
    QStringList* m_journal;
};

// A recorder that writes "<name> Start" / "<name> Stop" into a shared journal, to check order.
class RecordingRecorder final : public CZnCIPRecorder
{
public:
    RecordingRecorder(QString name, QStringList* journal) : m_name(std::move(name)), m_journal(journal) {}

    void Start() override { m_journal->append(m_name + QStringLiteral(" Start")); }
    void Stop() override { m_journal->append(m_name + QStringLiteral(" Stop")); }

private:
    QString m_name;
    QStringList* m_journal;
};

// A recorder of type R registered with the host for as long as it lives.
template <class R> struct Running
{
    Running() { recorder.Start(); }
    ~Running() { recorder.Stop(); }
    R recorder;
};

// A journal with each record on one line: an event as its call, screen values joined up to their Send,
// e.g. "Drawing: Duration@15=i:0 Name@1=s:{...} Reason@7=s:Closed"; other calls stay as they are.
inline QStringList records(const QStringList& calls)
{
    QStringList out;
    QString record;
    for (const QString& call : calls)
    {
        const QStringList parts = call.mid(15).split(QLatin1Char('|'));
        if (call.startsWith(QLatin1String("SetScreenValue ")) && parts.size() >= 4)
            record += (record.isEmpty() ? parts[0] + QLatin1Char(':') : QString()) + QLatin1Char(' ') +
                      parts[1] + QLatin1Char('@') + parts[2] + QLatin1Char('=') + parts.mid(3).join('|');
        else if (call.startsWith(QLatin1String("SetEvent ")))
            record += (record.isEmpty() ? QString() : QStringLiteral(" + ")) + call;
        else if (call == QLatin1String("Send") && !record.isEmpty())
            out << std::exchange(record, QString());
        else
            out << call;
    }
    if (!record.isEmpty())
        out << record + QStringLiteral(" (never sent)");
    return out;
}

// A CIP object published to the host with a recording service in place of its own. The host's
// process-wide timers, variables and annotation statistics are cleared after each test. Suites that
// load the module as a library include this header too, so the CIP object's class comes in only where
// RecordingFixture is used (from czncipimpl.h).
template <class Cip> class RecordingCipFixture : public HostFixture
{
protected:
    void SetUp() override
    {
        HostFixture::SetUp();
        cip = std::make_unique<Cip>();
        // The CIP object deletes only the service it holds at the end, so its own goes here.
        delete cip->GetService();
        cip->SetService(recording = new RecordingService(&journal));
        SetZnCIP(cip.get());
    }
    void TearDown() override
    {
        HostFixture::TearDown();
        cip.reset();
        CZnIncrementalTimerManager::removeAll();
        CZnSystemVariables::RemoveAll();
        CZnCIPAnnotationDataRecord::destroy();
    }
    // Runs f with no service installed, then puts the recording service back.
    template <class F> void withoutService(F f)
    {
        cip->SetService(nullptr);
        f();
        cip->SetService(recording);
    }

    QStringList journal;
    RecordingService* recording = nullptr; // owned by the CIP object while installed
    std::unique_ptr<Cip> cip;
};
class CZnCIPImpl;
using RecordingFixture = RecordingCipFixture<CZnCIPImpl>;
