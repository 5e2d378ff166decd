#include "cznselfadjustabledialog.h"

#include <QGuiApplication>
#include <QLayout>
#include <QScreen>
#include <QShowEvent>
#include <QWindow>

CZnSelfAdjustableDialog::CZnSelfAdjustableDialog(QWidget* parent, Qt::WindowFlags flags)
    : CZnDialog(parent, flags)
{
}

void CZnSelfAdjustableDialog::showEvent(QShowEvent* event)
{
    CZnDialog::showEvent(event);
    // Only when the application shows the dialog, not when the window system restores it.
    if (event->spontaneous())
        return;
    QScreen* screen = windowHandle() ? windowHandle()->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    const QSize frame = frameGeometry().size() - geometry().size();

    QSize wanted = size();
    if (layout() && layout()->hasHeightForWidth())
        wanted.setHeight(qMax(wanted.height(), layout()->totalHeightForWidth(wanted.width())));
    wanted = wanted.boundedTo(maximumSize()).boundedTo(area.size() - frame).expandedTo(minimumSize());

    QRect placed(QPoint(), wanted);
    placed.moveCenter(geometry().center());
    placed.moveRight(qMin(placed.right(), area.right() - frame.width()));
    placed.moveBottom(qMin(placed.bottom(), area.bottom() - frame.height()));
    placed.moveLeft(qMax(placed.left(), area.left()));
    placed.moveTop(qMax(placed.top(), area.top()));
    if (placed != geometry())
        setGeometry(placed);
}
