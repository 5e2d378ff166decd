#pragma once

#include "czncipimpl.h"
#include "hostfixture.h"
#include "recordingservice.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <memory>
#include <utility>

// One record as a recorder handed it to a RecordingService: the screen values set before its Send.
struct SentRecord
{
    QString screen;
    QStringList names;          // value names, in the order they were set
    QList<int> indexes;         // indexes, in the order they were set
    QMap<int, QString> byIndex; // typed value text ("s:...", "i:...", "d:...") by index

    QString text(int index) const { return byIndex.value(index).mid(2); }
};

// Splits a RecordingService journal into records, each ending at a Send; later calls are left out.
inline QList<SentRecord> sentRecords(const QStringList& calls)
{
    QList<SentRecord> records;
    SentRecord current;
    for (const QString& call : calls)
    {
        if (call == QLatin1String("Send"))
            records.append(std::exchange(current, SentRecord()));
        else if (call.startsWith(QLatin1String("SetScreenValue ")))
        {
            const QStringList parts = call.mid(15).split(QLatin1Char('|'));
            if (parts.size() < 4)
                continue;
            current.screen = parts.at(0);
            current.names.append(parts.at(1));
            current.indexes.append(parts.at(2).toInt());
            current.byIndex.insert(parts.at(2).toInt(), parts.mid(3).join(QLatin1Char('|')));
        }
    }
    return records;
}

// A CIP object published to the host with a recording service in place of its own.
class RecordingFixture : public HostFixture
{
protected:
    void SetUp() override
    {
        HostFixture::SetUp();
        cip = std::make_unique<CZnCIPImpl>();
        defaultService.reset(cip->GetService());
        recording = new RecordingService(&journal);
        cip->SetService(recording);
        SetZnCIP(cip.get());
    }
    void TearDown() override
    {
        HostFixture::TearDown();
        cip.reset();
        defaultService.reset();
    }
    // Runs f with no service installed, then puts the recording service back.
    template <class F> void withoutService(F f)
    {
        cip->SetService(nullptr);
        f();
        cip->SetService(recording);
    }
    QList<SentRecord> sent() const { return sentRecords(journal); }

    QStringList journal;
    RecordingService* recording = nullptr; // owned by the CIP object while installed
    std::unique_ptr<CZnCIPImpl> cip;
    std::unique_ptr<CZnCIPService> defaultService;
};
