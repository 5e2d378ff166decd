#pragma once

#include "cznciprecorder.h"
#include "czneditorreactor.h"
#include "odrxobject.h"

#include <QString>

// Reports which build of the application runs (product, version and build texts, platform) each
// time the host's main window has been created.
class CZnCIPBuildRecorder final : public CZnCIPRecorder, public OdStaticRxObject<CZnEditorReactor>
{
public:
    // CZnCIPRecorder
    void Start() override;
    void Stop() override;

    // CZnEditorReactor
    void mainFrameCreated(QWidget* mainFrame) override;

    // The "Version" value: the release number, a colon, and the release value in its shortest form
    // with six significant digits.
    static QString ReleaseText(int releaseNumber, double releaseValue);
};
