#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

class CZnDlgCIP;
class QRadioButton;

// Answers join dialogs from inside their exec(): while it lives, every turn of the event loop looks for
// an active modal join dialog and hands it to the action, which closes it the way a user would (mouse
// clicks, keys). A watchdog rejects a dialog that the action left open, so a broken test fails instead
// of hanging.
class ModalAnswerer : public QObject
{
public:
    using Action = std::function<void(CZnDlgCIP&)>;
    explicit ModalAnswerer(Action action);

    // Dialogs handed to the action so far.
    int answered() const { return m_answered; }
    // True when the watchdog had to close a dialog.
    bool timedOut() const { return m_timedOut; }

    // The user's moves.
    static void click(QRadioButton* button);
    static void pressOk(CZnDlgCIP& dialog);
    static void join(CZnDlgCIP& dialog);
    static void decline(CZnDlgCIP& dialog);
    static void escape(CZnDlgCIP& dialog);

private:
    void poll();

    Action m_action;
    QTimer m_poll;
    QTimer m_watchdog;
    CZnDlgCIP* m_current = nullptr;
    int m_answered = 0;
    bool m_timedOut = false;
};
