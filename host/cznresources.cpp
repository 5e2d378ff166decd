#include "cznresources.h"

CZnResources* GetZnResources()
{
    static CZnResources resources;
    return &resources;
}
