// Test entry: a QApplication on the offscreen platform, with the user's folders redirected into a
// temporary folder so no test ever touches the real profile, settings or sessions.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "userfolders.h"

#include <QApplication>
#include <QTemporaryDir>

#include <cstdlib>

int main(int argc, char** argv)
{
    QTemporaryDir home;
    const QByteArray root = home.path().toLocal8Bit();
    redirectUserFolders(root);
    setenv("XDG_RUNTIME_DIR", (root + "/run").constData(), 1);
    QApplication::setOrganizationName(QStringLiteral("Zinc Design Systems"));
    QApplication::setApplicationName(QStringLiteral("ZnCAD"));
    QApplication app(argc, argv);
    ::testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
