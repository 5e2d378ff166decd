#pragma once

#include "cznciprecorder.h"
#include "czneditorreactor.h"
#include "odrxobject.h"

#include <QSet>
#include <QStringList>

// Reports, once each, the host sessions that ended since the last report, good or bad, and for the
// bad ones whether a crash report was written. What was reported is remembered beside the session
// folders in "reported_sessions.txt".
class CZnCIPSessionRecorder final : public CZnCIPRecorder, public OdStaticRxObject<CZnEditorReactor>
{
public:
    void Start() override;
    void Stop() override;

    // One reporting pass; the host creates its main window early in every run.
    void mainFrameCreated(QWidget* mainFrame) override;

    // Names of the finished sessions already reported, in the order they were learnt.
    const QStringList& ReportedSessions() const { return m_reportedSessions; }

private:
    void Remember(const QString& name);
    bool IsReported(const QString& name) const { return m_known.contains(name); }

    QStringList m_reportedSessions;
    // The same names for lookup: a long-lived sessions root holds thousands of them.
    QSet<QString> m_known;
};
