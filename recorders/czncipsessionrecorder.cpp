#include "czncipsessionrecorder.h"

#include "editorregistration.h"

void CZnCIPSessionRecorder::Start()
{
    registerWithEditor(this);
}

void CZnCIPSessionRecorder::Stop()
{
    unregisterFromEditor(this);
}
