#pragma once

#include "czncipservice.h"

#include <QStringList>

// A service that writes down every call it receives, one line each, e.g.
// "SetEvent Commands|Execute|LINE (GROUPA)|1", "SetScreenValue Drawing|Name|1|s:{...}", "Send".
class RecordingService : public CZnCIPService
{
public:
    explicit RecordingService(QStringList* journal = nullptr) : m_journal(journal ? journal : &m_own) {}

    void SetEvent(const CZnString& category, const CZnString& action, const CZnString& label,
                  int value) override
    {
        add(QStringLiteral("SetEvent %1|%2|%3|%4")
                .arg(category.toQString(), action.toQString(), label.toQString())
                .arg(value));
    }
    void SetScreenValue(const CZnString& screen, const CZnString& name, int index,
                        const CZnString& value) override
    {
        add(QStringLiteral("SetScreenValue %1|%2|%3|s:%4")
                .arg(screen.toQString(), name.toQString())
                .arg(index)
                .arg(value.toQString()));
    }
    void SetScreenValue(const CZnString& screen, const CZnString& name, int index, int value) override
    {
        add(QStringLiteral("SetScreenValue %1|%2|%3|i:%4")
                .arg(screen.toQString(), name.toQString())
                .arg(index)
                .arg(value));
    }
    void SetScreenValue(const CZnString& screen, const CZnString& name, int index, double value) override
    {
        add(QStringLiteral("SetScreenValue %1|%2|%3|d:%4")
                .arg(screen.toQString(), name.toQString())
                .arg(index)
                .arg(value));
    }
    void Send() override { add(QStringLiteral("Send")); }
    void StartSession() override { add(QStringLiteral("StartSession")); }
    void StopSession(int reason, const char* folder) override
    {
        add(QStringLiteral("StopSession %1|%2")
                .arg(reason)
                .arg(folder ? QString::fromUtf8(folder) : QStringLiteral("null")));
    }
    void EndSession() override { add(QStringLiteral("EndSession")); }
    CZnString GetClientId() override { return CZnString("recording-client"); }

    const QStringList& calls() const { return *m_journal; }
    void clear() { m_journal->clear(); }

private:
    void add(const QString& line) { m_journal->append(line); }

    QStringList m_own;
    QStringList* m_journal;
};
