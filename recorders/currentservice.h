#pragma once

#include "czncip.h"
#include "czncipservice.h"

// The active service, looked up afresh for every call: the host may replace the service or withdraw
// the CIP object between any two calls, so a recorder never keeps the pointer.
inline CZnCIPService* currentService()
{
    CZnCIP* cip = GetZnCIP();
    return cip ? cip->GetService() : nullptr;
}
