#pragma once

// Facts about how the host runs.
class CZnTestUtils
{
public:
    // False when the host runs without its graphical user interface (batch or server mode).
    static bool IsGUIEnabled();
    static void SetGUIEnabled(bool on);
};
