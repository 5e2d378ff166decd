#include "znhostjoinanswerer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QPushButton>
#include <QRadioButton>

ZnHostJoinAnswerer::ZnHostJoinAnswerer(bool headless) : m_headless(headless)
{
    connect(&m_poll, SIGNAL(timeout()), this, SLOT(poll()));
    m_poll.start(20);
}

void ZnHostJoinAnswerer::arm(const QString& answer)
{
    m_answer = answer;
}

void ZnHostJoinAnswerer::poll()
{
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (!dialog || dialog->objectName() != QLatin1String("CZnDlgCIP"))
    {
        m_unanswered.invalidate();
        return;
    }
    if (!m_unanswered.isValid())
        m_unanswered.start();
    QString answer = m_answer;
    if (answer.isEmpty())
    {
        // A person answers; a script that armed nothing gets a grace period, then Escape.
        if (!m_headless || m_unanswered.elapsed() < 1000)
            return;
        answer = QStringLiteral("escape");
    }
    m_unanswered.invalidate();
    m_answer.clear();
    emit answered(answer);
    if (answer == QLatin1String("escape"))
    {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(dialog, &press);
        return;
    }
    const char* choice = answer == QLatin1String("join") ? "radioButton" : "radioButton_2";
    if (auto* radio = dialog->findChild<QRadioButton*>(QLatin1String(choice)))
        radio->click();
    if (auto* box = dialog->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox")))
        if (QPushButton* ok = box->button(QDialogButtonBox::Ok))
            ok->click();
}
