// Test entry: a QApplication on the offscreen platform, with the user's folders redirected into a
// temporary folder so no test ever touches the real profile, settings or sessions.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

#include <cstdlib>

int main(int argc, char** argv)
{
    QTemporaryDir home;
    const QByteArray root = home.path().toLocal8Bit();
    setenv("HOME", root.constData(), 1);
    setenv("XDG_CONFIG_HOME", (root + "/config").constData(), 1);
    setenv("XDG_DATA_HOME", (root + "/data").constData(), 1);
    setenv("XDG_CACHE_HOME", (root + "/cache").constData(), 1);
    setenv("XDG_RUNTIME_DIR", (root + "/run").constData(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication::setOrganizationName(QStringLiteral("Zinc Design Systems"));
    QApplication::setApplicationName(QStringLiteral("ZnCAD"));
    QApplication app(argc, argv);
    ::testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
