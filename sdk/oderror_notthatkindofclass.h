#pragma once

#include "oderror.h"

// Raised by a checked conversion when an object is not of the requested class.
class OdError_NotThatKindOfClass : public OdError
{
public:
    OdError_NotThatKindOfClass() : OdError(eNotThatKindOfClass) {}
    const char* what() const noexcept override { return "object is not of the requested class"; }
};
