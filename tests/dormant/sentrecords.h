#pragma once

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

// One record as a recorder handed it to a RecordingService: the screen values set before its Send.
struct SentRecord
{
    QString screen;
    QStringList names;          // value names, in the order they were set
    QList<int> indexes;         // indexes, in the order they were set
    QMap<int, QString> byIndex; // typed value text ("s:...", "i:...", "d:...") by index
    QStringList events;         // SetEvent lines, if any

    QString text(int index) const { return byIndex.value(index).mid(2); }
};

// Splits a RecordingService journal into records, each ending at a Send. Calls after the last Send
// are left out; session calls are ignored.
inline QList<SentRecord> sentRecords(const QStringList& calls)
{
    static const QString screenPrefix = QStringLiteral("SetScreenValue ");
    static const QString eventPrefix = QStringLiteral("SetEvent ");
    QList<SentRecord> records;
    SentRecord current;
    for (const QString& call : calls)
    {
        if (call == QLatin1String("Send"))
        {
            records.append(current);
            current = SentRecord();
        }
        else if (call.startsWith(screenPrefix))
        {
            const QStringList parts = call.mid(screenPrefix.size()).split(QLatin1Char('|'));
            if (parts.size() < 4)
                continue;
            const int index = parts.at(2).toInt();
            current.screen = parts.at(0);
            current.names.append(parts.at(1));
            current.indexes.append(index);
            current.byIndex.insert(index, QStringList(parts.mid(3)).join(QLatin1Char('|')));
        }
        else if (call.startsWith(eventPrefix))
        {
            current.events.append(call.mid(eventPrefix.size()));
        }
    }
    return records;
}
