// Writes BUILD/screenshots/cip_dialog.png: the join dialog as a user first sees it, on a desktop-sized
// screen (run under Xvfb: tools/screenshot_dialog.sh), and checks that the picture is a whole one.
#include "czndlgcip.h"
#include "hostfixture.h"

#include <QDir>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <QTest>

#include <iostream>

using DialogScreenshot = HostFixture;

TEST_F(DialogScreenshot, WritesTheDialogAsFirstSeen)
{
    CZnDlgCIP dialog(nullptr);
    const int needed = dialog.layout()->totalHeightForWidth(600);
    ASSERT_LE(needed, QGuiApplication::primaryScreen()->availableGeometry().height())
        << "the screen is too small for a whole picture; run it through tools/screenshot_dialog.sh";
    dialog.adjustSize();
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    const QImage shot = dialog.grab().toImage();
    const QString folder = QStringLiteral(ZNCIP_BIN_DIR "/../screenshots");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString file = QDir::cleanPath(QDir(folder).filePath(QStringLiteral("cip_dialog.png")));
    ASSERT_TRUE(shot.save(file, "PNG"));
    std::cout << "[ screenshot ] " << file.toStdString() << " (" << shot.width() << " x " << shot.height()
              << ")" << std::endl;

    EXPECT_EQ(shot.width(), 600);
    const Ui::CZnDlgCIP& ui = dialog.ui;
    EXPECT_EQ(ui.lblBanner->geometry(), QRect(0, 0, 600, 125));
    // The banner is drawn whole, scaled to its label.
    const QImage banner = QImage(QStringLiteral(":/images/cip/cip_banner.png"))
                              .scaled(600, 125, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                              .convertToFormat(QImage::Format_RGB32);
    const QImage drawn = shot.copy(0, 0, 600, 125).convertToFormat(QImage::Format_RGB32);
    int off = 0;
    for (int y = 0; y < 125; y += 4)
        for (int x = 0; x < 600; x += 4)
        {
            const QColor a(banner.pixel(x, y)), b(drawn.pixel(x, y));
            if (qAbs(a.red() - b.red()) + qAbs(a.green() - b.green()) + qAbs(a.blue() - b.blue()) > 12)
                ++off;
        }
    EXPECT_EQ(off, 0) << "banner pixels that differ from the resource";

    // Long texts wrap within the dialog and nothing is squeezed: every label gets the height its
    // wrapped text needs, one below the other.
    const QFontMetrics fm(ui.label_2->font());
    EXPECT_GT(fm.horizontalAdvance(ui.label_2->text().section('\n', 0, 0)), ui.label_2->width());
    int bottom = ui.lblBanner->geometry().bottom();
    for (QLabel* label : {ui.label, ui.label_2, ui.label_3, ui.label_4, ui.label_8, ui.label_10, ui.label_9,
                          ui.label_13, ui.label_14, ui.label_15, ui.label_16})
    {
        SCOPED_TRACE(label->objectName().toStdString());
        EXPECT_LE(label->geometry().right(), 600 - 10);
        EXPECT_GE(label->height(), label->heightForWidth(label->width()));
        EXPECT_GT(label->geometry().top(), bottom);
        bottom = label->geometry().bottom();
    }
    EXPECT_LE(ui.buttonBox->geometry().bottom(), shot.height());
}
