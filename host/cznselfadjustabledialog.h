#pragma once

#include "czndialog.h"

// A host dialog that sizes itself to its content when it is shown. Qt's adjustSize() caps a window at
// two thirds of the screen, which cuts short a dialog of long wrapped texts; this one takes the height
// its layout needs at its width instead, as far as the screen's available area allows, and then keeps
// the whole dialog on that screen.
//
// It adds no signals or slots and so keeps the meta-object of CZnDialog: dialogs derived from it
// report CZnDialog as their meta-object's parent.
class CZnSelfAdjustableDialog : public CZnDialog
{
public:
    explicit CZnSelfAdjustableDialog(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());

protected:
    void showEvent(QShowEvent* event) override;
};
