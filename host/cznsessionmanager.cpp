#include "cznsessionmanager.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QXmlStreamWriter>

namespace
{
const QString& runningFolder()
{
    static const QString s = QStringLiteral("running");
    return s;
}

const QString& goodFolder()
{
    static const QString s = QStringLiteral("good");
    return s;
}

const QString& badFolder()
{
    static const QString s = QStringLiteral("bad");
    return s;
}

const QString& crashReportFile()
{
    static const QString s = QStringLiteral("crashrpt.xml");
    return s;
}

// The lock sits beside the session folder, not in it: a run takes its lock before its folder exists,
// so another run filing abandoned sessions never mistakes a folder being created for a dead one.
QString lockPathOf(const QString& runningDir, const QString& name)
{
    return QDir(runningDir).filePath(name + QStringLiteral(".lock"));
}

std::unique_ptr<QLockFile> takeLock(const QString& path)
{
    auto lock = std::make_unique<QLockFile>(path);
    // Only a live process keeps a session; a lock is never stale merely by age.
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0))
        return nullptr;
    return lock;
}

// A name not yet used in any of the three folders: the wanted one, or with "-2", "-3"... appended.
QString freeName(const QString& root, const QString& wanted)
{
    const QDir dir(root);
    const auto used = [&](const QString& name)
    {
        for (const QString& sub : {runningFolder(), goodFolder(), badFolder()})
            if (QFileInfo::exists(dir.filePath(sub + QLatin1Char('/') + name)) ||
                QFileInfo::exists(lockPathOf(dir.filePath(runningFolder()), name)))
                return true;
        return false;
    };
    QString name = wanted;
    for (int n = 2; used(name); ++n)
        name = wanted + QLatin1Char('-') + QString::number(n);
    return name;
}

// Moves folder into ROOT/<into>/, keeping its name unless a folder of that name is already there.
bool fileSession(const QString& root, const QString& folder, const QString& into)
{
    const QDir target(QDir(root).filePath(into));
    if (!QDir().mkpath(target.path()))
        return false;
    const QString wanted = QFileInfo(folder).fileName();
    QString name = wanted;
    for (int n = 2; QFileInfo::exists(target.filePath(name)); ++n)
        name = wanted + QLatin1Char('-') + QString::number(n);
    return QDir().rename(folder, target.filePath(name));
}
} // namespace

CZnSessionManager::CZnSessionManager() : m_root(DefaultRoot()) {}

CZnSessionManager::~CZnSessionManager() = default;

QString CZnSessionManager::DefaultRoot()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation))
        .filePath(QStringLiteral("sessions"));
}

bool CZnSessionManager::StartSession(const QString& root)
{
    if (m_current)
        return false;
    SetRoot(root);
    return StartSession();
}

bool CZnSessionManager::StartSession()
{
    if (m_current || m_root.isEmpty())
        return false;
    FileAbandonedSessions();

    const QString running = QDir(m_root).filePath(runningFolder());
    if (!QDir().mkpath(running))
        return false;
    const QString wanted = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss")) +
                           QLatin1Char('-') + QString::number(QCoreApplication::applicationPid());
    const QString name = freeName(m_root, wanted);
    std::unique_ptr<QLockFile> lock = takeLock(lockPathOf(running, name));
    if (!lock)
        return false;
    const QString folder = QDir(running).filePath(name);
    if (!QDir().mkdir(folder))
        return false;
    m_lock = std::move(lock);
    m_current = std::make_unique<CZnSession>(name, QDir(folder).absolutePath());
    return true;
}

bool CZnSessionManager::EndSessionCleanly()
{
    if (!m_current)
        return false;
    // Filed before the lock goes, so no other run can take the folder for an abandoned one.
    const bool filed = fileSession(m_root, m_current->GetFolderPath().toQString(), goodFolder());
    m_current.reset();
    m_lock.reset();
    return filed;
}

bool CZnSessionManager::WriteCrashReport()
{
    if (!m_current)
        return false;
    QFile file(QDir(m_current->GetFolderPath().toQString()).filePath(crashReportFile()));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QXmlStreamWriter xml(&file);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("CrashReport"));
    xml.writeTextElement(QStringLiteral("Session"), m_current->GetName());
    xml.writeTextElement(QStringLiteral("ProcessId"), QString::number(QCoreApplication::applicationPid()));
    xml.writeTextElement(QStringLiteral("Time"), QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
    xml.writeEndElement();
    xml.writeEndDocument();
    // Flushed at once: the process is about to die.
    return !xml.hasError() && file.flush();
}

int CZnSessionManager::FileAbandonedSessions()
{
    if (m_root.isEmpty())
        return 0;
    const QDir running(QDir(m_root).filePath(runningFolder()));
    int filed = 0;
    for (const QString& name : running.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
    {
        if (m_current && name == m_current->GetName())
            continue;
        // Held by a live run: not ours to file. Otherwise the lock is ours until the folder is moved.
        const std::unique_ptr<QLockFile> lock = takeLock(lockPathOf(running.path(), name));
        if (lock && fileSession(m_root, running.filePath(name), badFolder()))
            ++filed;
    }
    return filed;
}

void CZnSessionManager::Reset()
{
    m_current.reset();
    m_lock.reset();
    m_root = DefaultRoot();
}

CZnSessionManager* GetZnSessionManager()
{
    static CZnSessionManager manager;
    return &manager;
}

CZnSession* znSession()
{
    return GetZnSessionManager()->CurrentSession();
}
