#pragma once

#include "czncip.h"
#include "czncipservice.h"

// How every recorder reaches the active service: fetched anew through the published CIP object for
// each call, since the host or the user may replace or withdraw it between any two calls.
inline CZnCIPService* activeService()
{
    CZnCIP* cip = GetZnCIP();
    return cip ? cip->GetService() : nullptr;
}

// One event record: prepared and sent at once, on the service of the moment.
inline void sendEvent(const CZnString& category, const CZnString& action, const CZnString& label, int value)
{
    if (CZnCIPService* service = activeService())
        service->SetEvent(category, action, label, value);
    if (CZnCIPService* service = activeService())
        service->Send();
}
