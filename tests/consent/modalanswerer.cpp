#include "modalanswerer.h"

#include "czndlgcip.h"

#include <QApplication>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleOptionButton>
#include <QTest>

namespace
{
constexpr int watchdogMs = 10000;
}

ModalAnswerer::ModalAnswerer(Action action) : m_action(std::move(action))
{
    m_poll.setInterval(0);
    connect(&m_poll, &QTimer::timeout, this, &ModalAnswerer::poll);
    m_poll.start();
    m_watchdog.setSingleShot(true);
    m_watchdog.setInterval(watchdogMs);
    connect(&m_watchdog, &QTimer::timeout, this,
            [this]
            {
                if (QWidget* open = QApplication::activeModalWidget())
                {
                    m_timedOut = true;
                    open->close();
                }
            });
}

void ModalAnswerer::poll()
{
    auto* dialog = qobject_cast<CZnDlgCIP*>(QApplication::activeModalWidget());
    if (!dialog || dialog == m_current)
        return;
    m_current = dialog;
    ++m_answered;
    m_watchdog.start();
    // The action may close the dialog; a pointer kept past that must not be mistaken for a new one.
    connect(dialog, &QObject::destroyed, this, [this] { m_current = nullptr; });
    connect(dialog, &QDialog::finished, this,
            [this]
            {
                m_current = nullptr;
                m_watchdog.stop();
            });
    m_action(*dialog);
}

void ModalAnswerer::click(QRadioButton* button)
{
    // Inside the indicator and its text, where a user's click lands.
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    const QRect area = button->style()->subElementRect(QStyle::SE_RadioButtonClickRect, &option, button);
    QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, area.center());
}

void ModalAnswerer::pressOk(CZnDlgCIP& dialog)
{
    QTest::mouseClick(dialog.ui.buttonBox->button(QDialogButtonBox::Ok), Qt::LeftButton);
}

void ModalAnswerer::join(CZnDlgCIP& dialog)
{
    click(dialog.ui.radioButton);
    pressOk(dialog);
}

void ModalAnswerer::decline(CZnDlgCIP& dialog)
{
    click(dialog.ui.radioButton_2);
    pressOk(dialog);
}

void ModalAnswerer::escape(CZnDlgCIP& dialog)
{
    QTest::keyClick(&dialog, Qt::Key_Escape);
}
