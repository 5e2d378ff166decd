#include "cznutils.h"

namespace
{
double scaling = 1.0;
bool darkDialogs = false;
} // namespace

double CZnUtils::dpiFactor()
{
    return scaling;
}

bool CZnUtils::IsDarkStyleDialogUsed()
{
    return darkDialogs;
}

void CZnUtils::SetDpiFactor(double factor)
{
    scaling = factor;
}

void CZnUtils::SetDarkStyleDialogUsed(bool on)
{
    darkDialogs = on;
}
