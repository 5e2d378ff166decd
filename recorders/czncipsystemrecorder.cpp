#include "czncipsystemrecorder.h"

#include "editorregistration.h"

void CZnCIPSystemRecorder::Start()
{
    registerWithEditor(this);
}

void CZnCIPSystemRecorder::Stop()
{
    unregisterFromEditor(this);
}
