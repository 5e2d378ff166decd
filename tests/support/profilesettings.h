#pragma once

#include "cznstring.h"
#include "cznsystemservices.h"
#include "odresbuf.h"

// An integer value as the host's settings hold it, and the participation value in the profile
// (section "cip", key CIPCONTROL) that the module reads at start-up.
inline OdResBufPtr intValue(int value)
{
    OdResBufPtr rb = OdResBuf::newRb(OdResBuf::kRtInt32);
    rb->setInt32(value);
    return rb;
}

inline void setControl(int value)
{
    GetZnSystemServices()->GetProfile()->GetSettings()->SetValue(CZnString("cip"), CZnString("CIPCONTROL"),
                                                                 intValue(value));
}
