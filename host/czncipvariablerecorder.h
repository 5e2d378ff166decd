#pragma once

#include "cznciprecorder.h"
#include "cznstring.h"

// A recorder of system-variable changes. Its owner decides which variables it watches.
class CZnCIPVariableRecorder : public CZnCIPRecorder
{
public:
    virtual ~CZnCIPVariableRecorder() = default;
    virtual void AddVariable(const CZnString& name) = 0;
    virtual void RemoveVariable(const CZnString& name) = 0;
};
