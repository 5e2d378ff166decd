#pragma once

#include "cznciprecorder.h"

#include <QString>
#include <QStringList>

// A recorder that writes "<name> Start" / "<name> Stop" into a shared journal, to check order.
class RecordingRecorder final : public CZnCIPRecorder
{
public:
    RecordingRecorder(QString name, QStringList* journal) : m_name(std::move(name)), m_journal(journal) {}
    ~RecordingRecorder() = default;

    void Start() override { m_journal->append(m_name + QStringLiteral(" Start")); }
    void Stop() override { m_journal->append(m_name + QStringLiteral(" Stop")); }

private:
    QString m_name;
    QStringList* m_journal;
};
