#include "znhostapplication.h"

#include "znhostcommands.h"
#include "znhostjoinanswerer.h"
#include "znhostscript.h"
#include "znhoststallwatch.h"
#include "znhosttelemetryextras.h"
#include "znhostwindow.h"

#include "czncip.h"
#include "czneditorreactor.h"
#include "cznhostconfiguration.h"
#include "cznsessionmanager.h"
#include "cznsystemservices.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTextStream>

#include <cstdio>
#include <cstdlib>

namespace
{
void report(const QString& line)
{
    QTextStream(stdout) << "zncip-host: " << line << '\n';
    std::fflush(stdout);
}

void warn(const QString& line)
{
    QTextStream(stderr) << "zncip-host: " << line << '\n';
}
} // namespace

ZnHostApplication::ZnHostApplication(Options options) : m_options(std::move(options)) {}

ZnHostApplication::~ZnHostApplication() = default;

bool ZnHostApplication::loadModule()
{
    if (!m_loader.load(m_options.modulePath.toStdString()))
    {
        warn(QStringLiteral("cannot load the telemetry module: %1")
                 .arg(QString::fromStdString(m_loader.error())));
        return false;
    }
    m_module = m_loader.createModuleObject();
    m_module->initApp();
    report(QStringLiteral("module %1 loaded").arg(CZnString(m_module->moduleName()).toQString()));
    return true;
}

int ZnHostApplication::run()
{
    QString message;
    if (!CZnHostConfiguration::Load(m_options.configPath, &message))
        warn(message);

    ZnHostScript script;
    if (!m_options.scriptPath.isEmpty())
    {
        QFile file(m_options.scriptPath);
        QString error;
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
            error = file.errorString();
        else if (!script.parse(QString::fromUtf8(file.readAll()), &error))
            error = QStringLiteral("%1: %2").arg(m_options.scriptPath, error);
        if (!error.isEmpty())
        {
            warn(QStringLiteral("script %1: %2").arg(m_options.scriptPath, error));
            return 2;
        }
    }

    // The host's own record of this run: a session folder that the next run files as good or bad.
    if (!GetZnSessionManager()->StartSession())
        warn(QStringLiteral("cannot open a session folder under %1").arg(GetZnSessionManager()->GetRoot()));

    loadModule();
    if (!m_extras.Configure(m_options.configPath, &message))
        warn(message);
    m_extras.Attach();
    m_commands = std::make_unique<ZnHostCommands>();
    m_window = new ZnHostWindow(*m_commands);
    GetZnSystemServices()->SetMainWindow(m_window);
    m_window->show();
    znFireMainFrameCreated(m_window);
    m_window->newDocument(QString());
    m_window->syncParticipation();

    const bool headless = !m_options.scriptPath.isEmpty();
    ZnHostJoinAnswerer answerer(headless);
    QObject::connect(&answerer, &ZnHostJoinAnswerer::answered, m_window,
                     [this](const QString& answer)
                     {
                         m_window->print(QStringLiteral("join question answered: %1").arg(answer));
                         QTimer::singleShot(0, m_window, [this] { m_window->syncParticipation(); });
                     });
    QObject::connect(&script, &ZnHostScript::answerArmed, &answerer, &ZnHostJoinAnswerer::arm);
    QObject::connect(&script, &ZnHostScript::crashRequested, [this] { crash(); });
    QObject::connect(&script, &ZnHostScript::finished, qApp, &QCoreApplication::quit);
    QObject::connect(&script, &ZnHostScript::failed,
                     [](const QString& message)
                     {
                         warn(message);
                         QCoreApplication::exit(3);
                     });
    ZnHostStallWatch stalls;
    if (headless)
    {
        stalls.start();
        script.start(m_window);
    }
    else
        QApplication::setQuitOnLastWindowClosed(true);

    const int code = QApplication::exec();
    if (headless)
        report(QStringLiteral("longest pause of the GUI thread while the script ran: %1 ms").arg(stalls.longestMs()));
    shutDown();
    return code;
}

void ZnHostApplication::shutDown()
{
    GetZnSystemServices()->GetDocumentManager()->CloseAll();
    znFireMainFrameDestroyed(m_window);
    // The host tells the telemetry how its session ended: normally.
    if (CZnCIP* cip = GetZnCIP())
        cip->StopSession(0, nullptr);
    GetZnSystemServices()->SetMainWindow(nullptr);
    delete m_window;
    m_window = nullptr;
    m_extras.Detach();
    if (m_module)
    {
        m_module->uninitApp();
        m_module->deleteModule();
        m_module = nullptr;
    }
    m_loader.unload();
    GetZnSessionManager()->EndSessionCleanly();
    report(QStringLiteral("ended cleanly"));
}

void ZnHostApplication::crash()
{
    // What the host's crash handler does before the process dies: a crash report in the session
    // folder, and the telemetry told how the session ended, with the folder holding the details.
    report(QStringLiteral("crashing on purpose"));
    CZnSessionManager* sessions = GetZnSessionManager();
    sessions->WriteCrashReport();
    if (CZnSession* session = znSession())
    {
        const QString folder = session->GetFolderPath().toQString();
        QFile info(QDir(folder).filePath(QStringLiteral("crashinfo.xml")));
        if (info.open(QIODevice::WriteOnly))
            info.write("<?xml version=\"1.0\"?>\n<crash reason=\"deliberate\"/>\n");
        if (CZnCIP* cip = GetZnCIP())
            cip->StopSession(2, folder.toUtf8().constData());
    }
    std::abort();
}
