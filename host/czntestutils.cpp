#include "czntestutils.h"

namespace
{
bool guiEnabled = true;
}

bool CZnTestUtils::IsGUIEnabled()
{
    return guiEnabled;
}

void CZnTestUtils::SetGUIEnabled(bool on)
{
    guiEnabled = on;
}
