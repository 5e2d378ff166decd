#pragma once

#include "odalloc.h"

// A recorder: one observer of host events. The CIP object starts it while the user participates and
// stops it otherwise; while stopped it receives no host events.
class CZnCIPRecorder : public OdRxHeapOperators
{
public:
    virtual void Start() = 0;
    virtual void Stop() = 0;

protected:
    ~CZnCIPRecorder() = default;
};
