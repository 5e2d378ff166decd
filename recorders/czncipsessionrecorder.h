#pragma once

#include "cznciprecorder.h"
#include "czneditorreactor.h"
#include "odrxobject.h"

class CZnCIPSessionRecorder final : public CZnCIPRecorder, public OdStaticRxObject<CZnEditorReactor>
{
public:
    void Start() override;
    void Stop() override;
};
