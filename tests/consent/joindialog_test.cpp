// The join dialog, driven with real mouse and key events under the offscreen platform.
#include "czndlgcip.h"
#include "cznresources.h"
#include "cznutils.h"
#include "hostfixture.h"
#include "modalanswerer.h"
#include "qtprinting.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QMetaEnum>
#include <QMetaMethod>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTranslator>
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

// Turns a few English words into German, in the dialog's context, and marks the options page's texts.
class GermanTranslator : public QTranslator
{
public:
    bool isEmpty() const override { return false; }
    QString translate(const char* context, const char* source, const char*, int) const override
    {
        QString text = QString::fromUtf8(source);
        if (qstrcmp(context, "CZnDlgCIP") == 0)
            return text
                .replace(QLatin1String("Customer Involvement Program"), QLatin1String("Kundenprogramm"))
                .replace(QLatin1String("I want to participate"), QLatin1String("Ich mache mit"));
        if (qstrcmp(context, "CZnQtWidgetOptionsGeneralCIP") == 0)
            return text.replace(QLatin1String("privacy policy"), QLatin1String("Datenschutz"));
        return QString();
    }
};

// The link of the privacy label: its text, target, colour and underline.
struct Link
{
    QString text;
    QString href;
    QString colour;
    bool underlined = false;
};

Link linkIn(const QString& html)
{
    QTextDocument doc;
    doc.setHtml(html);
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it)
        {
            const QTextCharFormat format = it.fragment().charFormat();
            if (format.isAnchor())
                return {it.fragment().text(), format.anchorHref(), format.foreground().color().name(),
                        format.fontUnderline()};
        }
    return {};
}

// The layout's class and items in order, nested layouts as "name:" and their tree, spacers with their
// size and policies, grid items with their cell.
QString tree(QLayout* layout)
{
    const QMetaEnum policy = QMetaEnum::fromType<QSizePolicy::Policy>();
    auto* grid = qobject_cast<QGridLayout*>(layout);
    QStringList out;
    for (int i = 0; i < layout->count(); ++i)
    {
        QLayoutItem* item = layout->itemAt(i);
        QString what = item->widget() ? item->widget()->objectName() : QString();
        if (item->layout())
            what = item->layout()->objectName() + ':' + tree(item->layout());
        if (QSpacerItem* spacer = item->spacerItem())
            what = QStringLiteral("spacer %1x%2 %3/%4")
                       .arg(spacer->sizeHint().width())
                       .arg(spacer->sizeHint().height())
                       .arg(QLatin1String(policy.valueToKey(spacer->sizePolicy().horizontalPolicy())),
                            QLatin1String(policy.valueToKey(spacer->sizePolicy().verticalPolicy())));
        int row = 0, column = 0, rows = 0, columns = 0;
        if (grid)
            grid->getItemPosition(i, &row, &column, &rows, &columns);
        out << (grid ? QStringLiteral("%1 @%2,%3,%4,%5").arg(what).arg(row).arg(column).arg(rows).arg(columns)
                     : what);
    }
    return QLatin1String(layout->metaObject()->className()) + '[' + out.join(QLatin1String(", ")) + ']';
}

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

TEST_F(JoinDialog, IsBuiltAsTheFormDrawsIt)
{
    CZnDlgCIP dialog(nullptr);
    const Ui::CZnDlgCIP& ui = dialog.ui;

    EXPECT_EQ(static_cast<CZnDialog&>(dialog).GetDialogId(), 3073);
    const QMetaObject* meta = dialog.metaObject();
    EXPECT_STREQ(meta->className(), "CZnDlgCIP");
    EXPECT_STREQ(meta->superClass()->className(), "CZnDialog");
    ASSERT_EQ(meta->methodCount() - meta->methodOffset(), 2);
    EXPECT_EQ(meta->method(meta->methodOffset()).methodSignature(), QByteArray("onPrivacyPolicy()"));
    EXPECT_EQ(meta->method(meta->methodOffset() + 1).methodSignature(), QByteArray("onOptionSelected()"));
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i)
        EXPECT_EQ(meta->method(i).methodType(), QMetaMethod::Slot);

    EXPECT_EQ(dialog.objectName(), QStringLiteral("CZnDlgCIP"));
    EXPECT_EQ(dialog.size(), QSize(600, 544));
    EXPECT_EQ(dialog.minimumSize(), QSize(600, 0));
    EXPECT_EQ(dialog.maximumSize(), QSize(600, 16777215));

    QLayout* top = dialog.layout();
    ASSERT_TRUE(top);
    EXPECT_EQ(
        tree(top),
        QStringLiteral("QVBoxLayout[lblBanner, verticalLayout:QVBoxLayout[label, label_2, label_3, label_4, "
                       "label_8, label_10, label_9, gridLayout:QGridLayout[spacer 20x20 Fixed/Minimum "
                       "@0,0,2,1, radioButton @0,1,1,1, spacer 40x20 Expanding/Minimum @0,2,2,1, "
                       "radioButton_2 @1,1,1,1], label_13, label_14, label_15, label_16, "
                       "horizontalLayout:QHBoxLayout[lblPrivacyPolicy, buttonBox]]]"));
    EXPECT_EQ(top->spacing(), 0);
    EXPECT_EQ(top->contentsMargins(), QMargins(0, 0, 0, 0));
    EXPECT_EQ(ui.lblBanner->maximumSize(), QSize(600, 125));
    EXPECT_TRUE(ui.lblBanner->hasScaledContents());
    EXPECT_EQ(ui.lblBanner->property("pixmap").value<QPixmap>().size(), QSize(1200, 250))
        << "the banner resource is loaded";
    EXPECT_TRUE(ui.lblBanner->text().isEmpty());

    EXPECT_EQ(ui.verticalLayout->contentsMargins(), QMargins(10, 10, 10, 10));
    const QList<QLabel*> bold = {ui.label, ui.label_3, ui.label_8, ui.label_13};
    const QList<QLabel*> wrapped = {ui.label_2,  ui.label_4,  ui.label_10, ui.label_13,
                                    ui.label_14, ui.label_15, ui.label_16};
    for (QLabel* label : {ui.label, ui.label_2, ui.label_3, ui.label_4, ui.label_8, ui.label_10, ui.label_9,
                          ui.label_13, ui.label_14, ui.label_15, ui.label_16})
    {
        SCOPED_TRACE(label->objectName().toStdString());
        EXPECT_EQ(label->maximumSize(), QSize(576, 16777215));
        EXPECT_EQ(label->wordWrap(), wrapped.contains(label));
        const bool isBold = bold.contains(label) || label == ui.label_9;
        EXPECT_EQ(label->font().bold(), isBold);
        if (isBold)
        {
            EXPECT_EQ(label->font().weight(), 75);
            EXPECT_FALSE(label->font().italic());
        }
    }

    EXPECT_EQ(ui.gridLayout->verticalSpacing(), 6);
    EXPECT_EQ(ui.radioButton->sizePolicy().horizontalPolicy(), QSizePolicy::Preferred);
    EXPECT_EQ(ui.radioButton->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
    EXPECT_EQ(ui.radioButton->sizePolicy().horizontalStretch(), 0);
    EXPECT_EQ(ui.radioButton->sizePolicy().verticalStretch(), 0);
    EXPECT_TRUE(ui.radioButton->autoExclusive());
    EXPECT_TRUE(ui.radioButton_2->autoExclusive());
    EXPECT_EQ(ui.lblPrivacyPolicy->textInteractionFlags(), Qt::LinksAccessibleByMouse);
    EXPECT_EQ(ui.buttonBox->standardButtons(), QDialogButtonBox::Ok);
    EXPECT_EQ(ui.buttonBox->orientation(), Qt::Horizontal);
    EXPECT_FALSE(ui.buttonBox->isEnabled()) << "no OK before a choice";
}

TEST_F(JoinDialog, ShowsItsTextsWithTheCompanyName)
{
    GetZnResources()->SetCompanyName(CZnString("Acme % Partners"));
    CZnDlgCIP dialog(nullptr);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Customer Involvement Program"));
    EXPECT_EQ(dialog.ui.radioButton->text(), QStringLiteral("I want to participate"));
    EXPECT_EQ(dialog.ui.radioButton_2->text(), QStringLiteral("I don't want to participate"));
    EXPECT_TRUE(dialog.ui.label_2->text().startsWith(QStringLiteral(
        "The Customer Involvement Program (CIP) lets Acme % Partners gather and analyze data")));
    EXPECT_TRUE(dialog.ui.label_2->text().endsWith(
        QStringLiteral("customer needs.\nYou are free to join or opt out of participation.")));
    EXPECT_EQ(dialog.ui.label_4->text().count('\n'), 2);
    EXPECT_TRUE(dialog.ui.label_4->text().contains(QStringLiteral("unnoticable in normal operation.")));

    GetZnResources()->SetCompanyName(CZnString());
    CZnDlgCIP anonymous(nullptr);
    EXPECT_TRUE(anonymous.ui.label_2->text().startsWith(
        QStringLiteral("The Customer Involvement Program (CIP) lets  gather")));
}

TEST_F(JoinDialog, TextsAreTranslatedInTheirContexts)
{
    GermanTranslator german;
    QCoreApplication::installTranslator(&german);
    {
        CZnDlgCIP light(nullptr);
        EXPECT_EQ(light.windowTitle(), QStringLiteral("Kundenprogramm"));
        EXPECT_EQ(light.ui.radioButton->text(), QStringLiteral("Ich mache mit"));
        EXPECT_TRUE(light.ui.label_2->text().startsWith(
            QStringLiteral("The Kundenprogramm (CIP) lets Zinc Design Systems")))
            << "the company goes into the translated text";
        EXPECT_EQ(linkIn(light.ui.lblPrivacyPolicy->text()).text,
                  QStringLiteral("Read the Kundenprogramm privacy policy..."));

        CZnUtils::SetDarkStyleDialogUsed(true);
        CZnDlgCIP dark(nullptr);
        EXPECT_EQ(linkIn(dark.ui.lblPrivacyPolicy->text()).text,
                  QStringLiteral("Read the Customer Involvement Program Datenschutz..."))
            << "the dark link comes from the options page's texts";
    }
    QCoreApplication::removeTranslator(&german);
}

TEST_F(JoinDialog, TheLinkIsBlueOrWhiteOnDarkDialogs)
{
    CZnDlgCIP light(nullptr);
    const Link blue = linkIn(light.ui.lblPrivacyPolicy->text());
    EXPECT_EQ(blue.text, QStringLiteral("Read the Customer Involvement Program privacy policy..."));
    EXPECT_EQ(blue.href, QStringLiteral("123"));
    EXPECT_EQ(blue.colour, QStringLiteral("#0000ff"));
    EXPECT_TRUE(blue.underlined);

    CZnUtils::SetDarkStyleDialogUsed(true);
    CZnDlgCIP dark(nullptr);
    const Link white = linkIn(dark.ui.lblPrivacyPolicy->text());
    EXPECT_EQ(white.text, blue.text);
    EXPECT_EQ(white.href, blue.href);
    EXPECT_EQ(white.colour, QStringLiteral("#ffffff"));
    EXPECT_TRUE(white.underlined);
    QString sameButWhite = light.ui.lblPrivacyPolicy->text();
    sameButWhite.replace(QLatin1String("color:#0000ff"), QLatin1String("color:#ffffff"));
    EXPECT_EQ(dark.ui.lblPrivacyPolicy->text(), sameButWhite) << "otherwise the same document";
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
        {"a choice without OK is no answer",
         [](CZnDlgCIP& d)
         {
             M::click(d.ui.radioButton);
             M::escape(d);
         },
         0, true, false},
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
             EXPECT_TRUE(d.ui.buttonBox->isEnabled());
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
    // With no address nothing opens; either way the dialog stays.
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

TEST_F(JoinDialog, GrowsToItsTextsButStaysOnTheScreen)
{
    CZnDlgCIP dialog(nullptr);
    dialog.adjustSize();
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    const int needed = dialog.layout()->totalHeightForWidth(600);
    // The texts need more than Qt's two thirds of this screen, so adjustSize alone falls short.
    ASSERT_GT(needed, dialog.height());
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    EXPECT_EQ(dialog.width(), 600);
    const int frame = dialog.frameGeometry().height() - dialog.height();
    EXPECT_EQ(dialog.height(), qMin(needed, area.height() - frame));
    EXPECT_TRUE(area.contains(dialog.frameGeometry())) << "placed within the screen";
}

#include "joindialog_test.moc"
