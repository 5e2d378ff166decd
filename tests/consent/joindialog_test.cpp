// The join dialog, driven with real mouse and key events under the offscreen platform.
#include "czndlgcip.h"
#include "cznresources.h"
#include "cznutils.h"
#include "hostfixture.h"
#include "modalanswerer.h"
#include "qtprinting.h"

#include <QDesktopServices>
#include <QUrl>

namespace
{
// Catches what the dialog asks the desktop to open.
class UrlCatcher : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> opened;

public slots:
    void open(const QUrl& url) { opened << url; }
};

class JoinDialog : public HostFixture
{
protected:
    int run(CZnDlgCIP& dialog, ModalAnswerer::Action action)
    {
        ModalAnswerer answerer(std::move(action));
        const int result = dialog.exec();
        EXPECT_EQ(answerer.answered(), 1);
        EXPECT_FALSE(answerer.timedOut());
        return result;
    }
};
} // namespace

TEST_F(JoinDialog, ShowsItsTextsWithTheCompanyNameAndAWhiteLinkOnDarkDialogs)
{
    GetZnResources()->SetCompanyName(CZnString("Acme % Partners"));
    CZnDlgCIP light(nullptr);
    EXPECT_EQ(light.windowTitle(), QStringLiteral("Customer Involvement Program"));
    EXPECT_EQ(light.ui.radioButton->text(), QStringLiteral("I want to participate"));
    EXPECT_EQ(light.ui.radioButton_2->text(), QStringLiteral("I don't want to participate"));
    EXPECT_TRUE(light.ui.label_2->text().startsWith(QStringLiteral(
        "The Customer Involvement Program (CIP) lets Acme % Partners gather and analyze data")));
    EXPECT_TRUE(light.ui.label_2->text().endsWith(
        QStringLiteral("customer needs.\nYou are free to join or opt out of participation.")));

    GetZnResources()->SetCompanyName(CZnString());
    CZnUtils::SetDarkStyleDialogUsed(true);
    CZnDlgCIP dark(nullptr);
    EXPECT_TRUE(dark.ui.label_2->text().startsWith(
        QStringLiteral("The Customer Involvement Program (CIP) lets  gather")));
    // The privacy link is the same document on dark dialogs, only white instead of blue.
    QString link = light.ui.lblPrivacyPolicy->text();
    EXPECT_TRUE(link.contains(
        QStringLiteral("color:#0000ff;\">Read the Customer Involvement Program privacy policy...")));
    EXPECT_EQ(dark.ui.lblPrivacyPolicy->text(),
              link.replace(QLatin1String("color:#0000ff"), QLatin1String("color:#ffffff")));
}

TEST_F(JoinDialog, OnlyOkAfterAChoiceAccepts)
{
    using M = ModalAnswerer;
    const struct
    {
        const char* what;
        ModalAnswerer::Action action;
        int result;
        bool joins, declines;
    } cases[] = {
        {"escape", M::escape, 0, false, false},
        {"closing the window", [](CZnDlgCIP& d) { d.close(); }, 0, false, false},
        {"OK disabled until a choice, then decline",
         [](CZnDlgCIP& d)
         {
             M::pressOk(d);
             EXPECT_TRUE(d.isVisible());
             M::click(d.ui.radioButton_2);
             EXPECT_TRUE(d.ui.buttonBox->isEnabled());
             M::pressOk(d);
         },
         1, false, true},
        {"the choices exclude each other; Space presses OK",
         [](CZnDlgCIP& d)
         {
             M::click(d.ui.radioButton_2);
             M::click(d.ui.radioButton);
             EXPECT_FALSE(d.ui.radioButton_2->isChecked());
             M::click(d.ui.radioButton_2);
             EXPECT_FALSE(d.ui.radioButton->isChecked());
             M::click(d.ui.radioButton);
             QTest::keyClick(d.ui.buttonBox->button(QDialogButtonBox::Ok), Qt::Key_Space);
         },
         1, true, false},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.what);
        CZnDlgCIP dialog(nullptr);
        EXPECT_EQ(run(dialog, c.action), c.result);
        EXPECT_EQ(dialog.ui.radioButton->isChecked(), c.joins);
        EXPECT_EQ(dialog.ui.radioButton_2->isChecked(), c.declines);
    }
}

TEST_F(JoinDialog, ThePrivacyLinkOpensTheAddressFromTheResources)
{
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "open");
    const QString address = QStringLiteral("https://privacy.zinc.example/cip?lang=en");
    // Not the link's placeholder target; with no address nothing opens; either way the dialog stays.
    for (const QString& url : {address, QString()})
    {
        GetZnResources()->SetPrivacyPolicyUrl(CZnString(url));
        CZnDlgCIP dialog(nullptr);
        run(dialog,
            [](CZnDlgCIP& d)
            {
                QLabel* label = d.ui.lblPrivacyPolicy;
                QTest::mouseClick(label, Qt::LeftButton, Qt::NoModifier, QPoint(12, label->height() / 2));
                EXPECT_TRUE(d.isVisible());
                ModalAnswerer::escape(d);
            });
        EXPECT_EQ(catcher.opened, QList<QUrl>{QUrl(address)});
    }
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
}

#include "joindialog_test.moc"
