#pragma once

#include "cznciprecorder.h"
#include "czneditorreactor.h"
#include "odrxobject.h"

// Reports, once at the end of a run, the statistics of every performance timer the host keeps: one
// record per timer, in name order, when the main window goes away.
class CZnCIPPerformanceRecorder final : public CZnCIPRecorder, public OdStaticRxObject<CZnEditorReactor>
{
public:
    // CZnCIPRecorder
    void Start() override;
    void Stop() override;

    // CZnEditorReactor
    void mainFrameDestroyed(QWidget* mainFrame) override;

    // Mean time of a visit; 0 for a timer that never ran.
    static double Average(double total, int visits);
};
