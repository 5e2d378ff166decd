#pragma once

// Host utilities the module reads.
class CZnUtils
{
public:
    // The screen scaling factor: 1.0 for 96 dpi, 1.5 for 144 dpi.
    static double dpiFactor();
    // True when the host draws its dialogs in the dark style.
    static bool IsDarkStyleDialogUsed();

    static void SetDpiFactor(double factor);
    static void SetDarkStyleDialogUsed(bool on);
};
