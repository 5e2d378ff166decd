#pragma once

#include "czndlgcip.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleOptionButton>
#include <QTest>
#include <QTimer>

#include <functional>

// Answers join dialogs from inside their exec(): while it lives, every turn of the event loop looks for
// an active modal join dialog and hands it to the action, which closes it the way a user would. A
// watchdog fails the test and closes a dialog the action left open, instead of hanging.
class ModalAnswerer : public QObject
{
public:
    using Action = std::function<void(CZnDlgCIP&)>;

    explicit ModalAnswerer(Action action) : m_action(std::move(action))
    {
        connect(&m_poll, &QTimer::timeout, this, &ModalAnswerer::poll);
        m_poll.start(0);
    }

    int answered() const { return m_answered; }

    // The user's moves. A click lands inside the indicator and its text.
    static void click(QRadioButton* button)
    {
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        const QRect area = button->style()->subElementRect(QStyle::SE_RadioButtonClickRect, &option, button);
        QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, area.center());
    }
    static void pressOk(CZnDlgCIP& dialog)
    {
        QTest::mouseClick(dialog.ui.buttonBox->button(QDialogButtonBox::Ok), Qt::LeftButton);
    }
    static void join(CZnDlgCIP& dialog)
    {
        click(dialog.ui.radioButton);
        pressOk(dialog);
    }
    static void decline(CZnDlgCIP& dialog)
    {
        click(dialog.ui.radioButton_2);
        pressOk(dialog);
    }
    static void escape(CZnDlgCIP& dialog) { QTest::keyClick(&dialog, Qt::Key_Escape); }

private:
    void poll()
    {
        auto* dialog = qobject_cast<CZnDlgCIP*>(QApplication::activeModalWidget());
        if (!dialog || dialog == m_current)
            return;
        m_current = dialog;
        ++m_answered;
        // A pointer kept past the dialog's end must not be mistaken for a new dialog at the same address.
        connect(dialog, &QObject::destroyed, this, [this] { m_current = nullptr; });
        QTimer::singleShot(10000, dialog,
                           [dialog]
                           {
                               ADD_FAILURE() << "the join dialog was not answered";
                               dialog->close();
                           });
        m_action(*dialog);
    }

    Action m_action;
    QTimer m_poll;
    CZnDlgCIP* m_current = nullptr;
    int m_answered = 0;
};
