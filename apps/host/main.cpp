// zncip-host: a small CAD-like host that loads the telemetry module the way the real host does.
//   zncip-host [--config FILE] [--module FILE.tx] [--script FILE]
// Without --script it runs interactively; with one it runs the steps headless and exits.
#include "znhostapplication.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QStandardPaths>

namespace
{
QtMessageHandler previousHandler = nullptr;

// The offscreen platform of headless runs has no window manager to pass size hints to and says so
// for every window shown; that notice, and only it, is dropped. Everything else goes on as before.
void dropPlatformNotices(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtWarningMsg && message == QLatin1String("This plugin does not support propagateSizeHints()"))
        return;
    previousHandler(type, context, message);
}
} // namespace

int main(int argc, char** argv)
{
    previousHandler = qInstallMessageHandler(dropPlatformNotices);
    QApplication::setOrganizationName(QStringLiteral("Zinc Design Systems"));
    QApplication::setApplicationName(QStringLiteral("ZnCAD"));
    QApplication app(argc, argv);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("A CAD host for the telemetry module."));
    parser.addHelpOption();
    const QCommandLineOption config(QStringLiteral("config"),
                                    QStringLiteral("Host configuration file (INI)."), QStringLiteral("file"));
    const QCommandLineOption module(QStringLiteral("module"), QStringLiteral("The telemetry module to load."),
                                    QStringLiteral("file"));
    const QCommandLineOption script(QStringLiteral("script"),
                                    QStringLiteral("Run these steps headless, then exit."),
                                    QStringLiteral("file"));
    parser.addOptions({config, module, script});
    parser.process(app);

    ZnHostApplication::Options options;
    options.configPath = parser.isSet(config)
                             ? parser.value(config)
                             : QDir(QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation))
                                   .filePath(QStringLiteral("zncip-host.ini"));
    options.modulePath =
        parser.isSet(module)
            ? parser.value(module)
            : QDir(QApplication::applicationDirPath()).filePath(QStringLiteral("ZnCIP_4.03_15.tx"));
    options.scriptPath = parser.value(script);
    return ZnHostApplication(options).run();
}
