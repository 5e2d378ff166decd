#include "czncipcommandsrecorder.h"

#include "editorregistration.h"

void CZnCIPCommandsRecorder::Start()
{
    registerWithEditor(this);
}

void CZnCIPCommandsRecorder::Stop()
{
    unregisterFromEditor(this);
}
