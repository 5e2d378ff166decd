#pragma once

// The host commands library's gate for interactive UI.
class CZnVORINQTGate
{
public:
    // True while the host suppresses dialogs (scripted runs, automation).
    bool IsDialogSuppressed() const { return m_dialogSuppressed; }
    void SetDialogSuppressed(bool on) { m_dialogSuppressed = on; }

private:
    bool m_dialogSuppressed = false;
};

CZnVORINQTGate* GetZnVORINQTGate();
