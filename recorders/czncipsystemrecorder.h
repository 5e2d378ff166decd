#pragma once

#include "cznciprecorder.h"
#include "czneditorreactor.h"
#include "cznstring.h"
#include "odrxobject.h"

// Describes the machine once per run, when the host's main window exists, and brackets the
// telemetry session with the life of that window.
class CZnCIPSystemRecorder final : public CZnCIPRecorder, public OdStaticRxObject<CZnEditorReactor>
{
public:
    void Start() override;
    void Stop() override;

    void mainFrameCreated(QWidget* mainFrame) override;
    void mainFrameDestroyed(QWidget* mainFrame) override;

    // The name of a Windows version, by its QSysInfo::WinVersion value.
    static CZnString WindowsVersionName(int winVersion);
};
