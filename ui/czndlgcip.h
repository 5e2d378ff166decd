#pragma once

#include "cznselfadjustabledialog.h"
#include "ui_czndlgcip.h"

// The join question: explains what the Customer Involvement Program collects, offers to take part or
// not, and links to the privacy policy. It only collects the choice; the caller reads the result of
// exec() and the first radio button, and stores the answer.
class CZnDlgCIP : public CZnSelfAdjustableDialog
{
    Q_OBJECT

public:
    explicit CZnDlgCIP(QWidget* parent);

    int GetDialogId() const override;

    Ui::CZnDlgCIP ui;

private slots:
    void onPrivacyPolicy();
    void onOptionSelected();
};
