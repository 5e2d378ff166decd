#include "czncip.h"

namespace
{
CZnCIP* publishedCIP = nullptr;
}

CZnCIP* GetZnCIP()
{
    return publishedCIP;
}

void SetZnCIP(CZnCIP* cip)
{
    publishedCIP = cip;
}
