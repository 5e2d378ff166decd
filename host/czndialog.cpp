#include "czndialog.h"

CZnDialog::CZnDialog(QWidget* parent, Qt::WindowFlags flags) : QDialog(parent, flags)
{
    // The host's dialogs offer help through their own buttons, not through the title bar.
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
}

int CZnDialog::GetDialogId() const
{
    return 0;
}
