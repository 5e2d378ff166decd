#include "czndlgcip.h"

#include "cznresources.h"
#include "cznutils.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QUrl>

namespace
{
constexpr int dialogId = 3073;

// The privacy link as the options page draws it on dark dialogs: the same document as the form's,
// with a white link. Translated where the options page's texts are.
constexpr const char darkLinkContext[] = "CZnQtWidgetOptionsGeneralCIP";
constexpr const char* darkLinkText = QT_TRANSLATE_NOOP(
    "CZnQtWidgetOptionsGeneralCIP",
    "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.0//EN\" \"http://www.w3.org/TR/REC-html40/strict.dtd\">\n"
    "<html><head><meta name=\"qrichtext\" content=\"1\" /><style type=\"text/css\">\n"
    "p, li { white-space: pre-wrap; }\n"
    "</style></head><body style=\" font-family:'MS Shell Dlg 2'; font-size:8.25pt; font-weight:400; "
    "font-style:normal;\">\n"
    "<p style=\" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; -qt-block-indent:0; "
    "text-indent:0px;\"><a href=\"123\"><span style=\" text-decoration: underline; color:#ffffff;\">Read "
    "the Customer Involvement Program privacy policy...</span></a></p></body></html>");
} // namespace

CZnDlgCIP::CZnDlgCIP(QWidget* parent) : CZnSelfAdjustableDialog(parent)
{
    ui.setupUi(this);

    connect(ui.buttonBox, SIGNAL(accepted()), this, SLOT(accept()));
    connect(ui.lblPrivacyPolicy, SIGNAL(linkActivated(const QString&)), this, SLOT(onPrivacyPolicy()));
    connect(ui.radioButton, SIGNAL(clicked()), this, SLOT(onOptionSelected()));
    connect(ui.radioButton_2, SIGNAL(clicked()), this, SLOT(onOptionSelected()));

    // OK only once a choice is made; there is no Cancel, so the box's rejected() is left alone.
    ui.buttonBox->setEnabled(false);

    ui.label_2->setText(
        ui.label_2->text().arg(GetZnResources()->GetCompanyName().toQString(), 0, QLatin1Char(' ')));

    if (CZnUtils::IsDarkStyleDialogUsed())
        ui.lblPrivacyPolicy->setText(QCoreApplication::translate(darkLinkContext, darkLinkText));
}

int CZnDlgCIP::GetDialogId() const
{
    return dialogId;
}

void CZnDlgCIP::onPrivacyPolicy()
{
    // The link in the label is only a placeholder: the host's resources know the current address.
    QDesktopServices::openUrl(QUrl(GetZnResources()->GetPrivacyPolicyUrl().toQString(), QUrl::TolerantMode));
}

void CZnDlgCIP::onOptionSelected()
{
    ui.buttonBox->setEnabled(true);
}
