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

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <memory>

// A service that writes down each record on one line: an event as its call, screen values joined up to
// their Send ("Drawing: Duration@15=i:0 Name@1=s:{...} Reason@7=s:Closed"), " (never sent)" until then;
// other calls as they are ("StartSession", a "Send" with nothing to send).
class RecordingService : public CZnCIPService
{
public:
    explicit RecordingService(QStringList* journal) : m_journal(journal) {}

    using S = const CZnString&;
    void SetEvent(S category, S action, S label, int value) override
    {
        const QString call = QStringLiteral("SetEvent %1|%2|%3|%4")
                                 .arg(category.toQString(), action.toQString(), label.toQString())
                                 .arg(value);
        add(call, " + " + call);
    }
    void SetScreenValue(S s, S n, int i, S v) override { value(s, n, i, "s:" + v.toQString()); }
    void SetScreenValue(S s, S n, int i, int v) override { value(s, n, i, QStringLiteral("i:%1").arg(v)); }
    void SetScreenValue(S s, S n, int i, double v) override { value(s, n, i, QStringLiteral("d:%1").arg(v)); }
    void Send() override
    {
        if (open())
            m_journal->last().chop(unsent().size());
        else
            *m_journal << QStringLiteral("Send");
    }
    void StartSession() override { *m_journal << QStringLiteral("StartSession"); }
    void StopSession(int reason, const char* folder) override
    {
        *m_journal << QStringLiteral("StopSession %1|%2").arg(reason).arg(folder ? folder : "null");
    }
    void EndSession() override { *m_journal << QStringLiteral("EndSession"); }
    CZnString GetClientId() override { return CZnString("recording-client"); }

private:
    static QString unsent() { return QStringLiteral(" (never sent)"); }
    bool open() const { return !m_journal->isEmpty() && m_journal->last().endsWith(unsent()); }
    void value(S screen, S name, int index, const QString& typed)
    {
        const QString field = QStringLiteral(" %1@%2=").arg(name.toQString()).arg(index) + typed;
        add(screen.toQString() + ':' + field, field);
    }
    // Starts a record with first, or adds more to the one not yet sent.
    void add(const QString& first, const QString& more)
    {
        if (open())
            m_journal->last().insert(m_journal->last().size() - unsent().size(), more);
        else
            *m_journal << first + unsent();
    }
    QStringList* m_journal;
};

// A recorder that writes "<name> Start" / "<name> Stop" into a shared journal, to check order.
class RecordingRecorder final : public CZnCIPRecorder
{
public:
    RecordingRecorder(QString name, QStringList* journal) : m_name(std::move(name)), m_journal(journal) {}
    void Start() override { *m_journal << m_name + QStringLiteral(" Start"); }
    void Stop() override { *m_journal << m_name + QStringLiteral(" Stop"); }

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

inline void writeBytes(const QString& file, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(file).absolutePath());
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
}
inline QByteArray readBytes(const QString& file)
{
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// A CIP object published to the host with a recording service in place of its own; the host's
// process-wide timers, variables and annotation statistics are cleared after each test.
template <class Cip> class RecordingCipFixture : public HostFixture
{
protected:
    void SetUp() override
    {
        HostFixture::SetUp();
        cip = std::make_unique<Cip>();
        delete cip->GetService(); // the CIP object deletes only the service it holds at the end
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

    QStringList journal;
    RecordingService* recording = nullptr; // owned by the CIP object while installed
    std::unique_ptr<Cip> cip;
};
class CZnCIPImpl;
using RecordingFixture = RecordingCipFixture<CZnCIPImpl>;
