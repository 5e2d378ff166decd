#pragma once

#include "cznciprecorder.h"
#include "czneditorreactor.h"
#include "odrxobject.h"

// Records every command the user starts ("Commands") and every name that matches no command
// ("Unknown Commands").
class CZnCIPCommandsRecorder final : public CZnCIPRecorder, public OdStaticRxObject<CZnEditorReactor>
{
public:
    void Start() override;
    void Stop() override;

    // The host calls this before each command runs. The editor's own notification of the same name is
    // not watched, but stays visible beside it.
    using OdEditorReactor::commandWillStart;
    void commandWillStart(OdEdCommand* command, OdEdCommandContext* context) override;
    // The host calls this for a name that matches no command; the recorder never supplies one.
    OdEdCommandPtr unknownCommand(const OdString& name, OdEdCommandContext* context) override;
};
