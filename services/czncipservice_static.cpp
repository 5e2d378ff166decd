#include "czncipservice_static.h"

#include "czncip.h"
#include "cznplatform.h"
#include "cznresources.h"
#include "cznsystemservices.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QXmlStreamWriter>

#include <string>

namespace
{
const QString& separator()
{
    static const QString text(4, QLatin1Char(' '));
    return text;
}

const QString& timeFormat()
{
    static const QString text = QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz");
    return text;
}

const QString& logFolderName()
{
    static const QString text = QStringLiteral("CIP Logs");
    return text;
}

const QString& sessionGroup()
{
    static const QString text = QStringLiteral("Session");
    return text;
}

const QString& applicationGroup()
{
    static const QString text = QStringLiteral("Application");
    return text;
}

QString now()
{
    return QDateTime::currentDateTime().toString(timeFormat());
}

// The session lines carry their time as the one extra value.
QMap<QString, QVariant> timeExtra()
{
    static const QString key = QStringLiteral("sc");
    QMap<QString, QVariant> extras;
    extras.insert(key, now());
    return extras;
}

// Who ran the session, as the login environment names them on either family of systems.
QString environmentUserName()
{
    QString user = QString::fromLatin1(qgetenv("USER"));
    if (user.isEmpty())
        user = QString::fromLatin1(qgetenv("USERNAME"));
    return user;
}

QString headerText(const QString& path)
{
    static const QString pattern = QStringLiteral("%1 generates a log file: %2\nrecorded on %3 by %4.");
    return pattern.arg(GetZnResources()->GetProductName().toQString())
        .arg(path)
        .arg(now())
        .arg(environmentUserName());
}
} // namespace

CZnCIPService_Static::CZnCIPService_Static()
{
    writeTimer.setInterval(30000);
    writeTimer.setSingleShot(false);
    writeTimer.start();
    connect(&writeTimer, SIGNAL(timeout()), this, SLOT(writeLog()));
}

CZnCIPService_Static::~CZnCIPService_Static()
{
    disconnect(&writeTimer, SIGNAL(timeout()), this, SLOT(writeLog()));
    writeTimer.stop();
}

void CZnCIPService_Static::SetEvent(const CZnString& category, const CZnString& action,
                                    const CZnString& label, int value)
{
    record.SetEvent(category, action, label, value);
}

void CZnCIPService_Static::SetScreenValue(const CZnString& screen, const CZnString&, int index,
                                          const CZnString& value)
{
    record.SetScreenValue(screen, index, QVariant(value.toQString()));
}

void CZnCIPService_Static::SetScreenValue(const CZnString& screen, const CZnString&, int index, int value)
{
    record.SetScreenValue(screen, index, QVariant(value));
}

void CZnCIPService_Static::SetScreenValue(const CZnString& screen, const CZnString&, int index, double value)
{
    record.SetScreenValue(screen, index, QVariant(value));
}

void CZnCIPService_Static::Send()
{
    CZnCIPServiceHelper::Send(
        record,
        [this](CZnCIPServiceRecord& event)
        {
            // An element name cannot hold blanks the way an action text can ("Zoom Window").
            QString action = event.action.toQString();
            event.action = CZnString(action.remove(QLatin1Char(' ')));
            AddLogLine(event.category.toQString(), event.action.toQString(), event.label.toQString(),
                       QVariant(event.value), QMap<QString, QVariant>());
        },
        [this](CZnCIPServiceRecord& screenView)
        {
            QString line = screenView.category.toQString();
            for (auto it = screenView.values.cbegin(); it != screenView.values.cend(); ++it)
                line = line.trimmed() + separator() + it.value().toString();
            pendingLines.push_back(line);
        });
}

void CZnCIPService_Static::StartSession()
{
    static const QString dotNetGroup = QStringLiteral(".NETFramework");
    static const QString versionChild = QStringLiteral("version");
    for (const QString& version : CZnPlatform::DotNetFrameworkVersions())
        AddLogLine(dotNetGroup, versionChild, version, QVariant(), QMap<QString, QVariant>());
    AddLogLine(applicationGroup(), QStringLiteral("path"), QCoreApplication::applicationDirPath(), QVariant(),
               QMap<QString, QVariant>());
    AddLogLine(applicationGroup(), QStringLiteral("name"), QCoreApplication::applicationName(), QVariant(),
               QMap<QString, QVariant>());
    AddLogLine(applicationGroup(), versionChild, GetZnSystemServices()->GetVersionText().toQString(),
               QVariant(), QMap<QString, QVariant>());
    AddLogLine(sessionGroup(), QStringLiteral("Start"), QString(), QVariant(), timeExtra());
}

void CZnCIPService_Static::StopSession(int reason, const char* crashFolder)
{
    static const QString hang = QStringLiteral("Hang");
    static const QString crash = QStringLiteral("Crash");
    static const QString normal = QStringLiteral("Normal");
    const QString& type = reason == 1 ? hang : reason == 2 ? crash : normal;
    AddLogLine(sessionGroup(), QStringLiteral("Type"), type, QVariant(), QMap<QString, QVariant>());

    if (reason == 1 || reason == 2)
    {
        QString callStack;
        if (crashFolder)
        {
            // Writing first fixes the log file, whose name the copy of the crash information takes.
            writeLog(false);
            const QString folder = QString::fromStdString(std::string(crashFolder));
            if (!logFilePath.isEmpty() && !folder.isEmpty() && QDir(folder).exists())
            {
                callStack = QDir::cleanPath(logFilePath + QDir::separator() + QStringLiteral("..")) +
                            QDir::separator() + QFileInfo(logFilePath).baseName() +
                            QStringLiteral("_crashinfo.xml");
                QFile::copy(folder + QDir::separator() + QStringLiteral("crashinfo.xml"), callStack);
            }
        }
        AddLogLine(sessionGroup(), QStringLiteral("CallStack"), callStack, QVariant(),
                   QMap<QString, QVariant>());
    }

    AddLogLine(sessionGroup(), QStringLiteral("End"), QString(), QVariant(), timeExtra());
    writeLog(true);
}

void CZnCIPService_Static::EndSession() {}

CZnString CZnCIPService_Static::GetClientId()
{
    return CZnString();
}

void CZnCIPService_Static::AddLogLine(const QString& category, const QString& action, const QString& label,
                                      const QVariant&, const QMap<QString, QVariant>& extras)
{
    QString line = category + separator() + action + separator() + label;
    for (auto it = extras.cbegin(); it != extras.cend(); ++it)
        line = line.trimmed() + separator() + it.value().toString();
    pendingLines.push_back(line);
}

bool CZnCIPService_Static::EnsureLogFilePath()
{
    if (!logFilePath.isEmpty() && QFileInfo::exists(logFilePath))
        return true;
    CZnSystemServices* services = GetZnSystemServices();
    const QString profilePath = services->GetProfilePath().toQString();
    // Without a profile folder there is nowhere of the user's own to put the log; an empty path would
    // otherwise mean the working folder's parent.
    if (!services->GetProfile() || profilePath.isEmpty())
        return false;
    QDir parentDir(profilePath);
    parentDir.cdUp();
    const QString parent = parentDir.path();
    const QString folder = parent + QDir::separator() + logFolderName();
    if (!QDir(folder).exists())
        QDir(parent).mkdir(logFolderName());
    static const QString namePattern = QStringLiteral("CIP_%1.xml");
    static const QString stampFormat = QStringLiteral("yyMMddhhmmsszzz");
    logFilePath =
        folder + QDir::separator() + namePattern.arg(QDateTime::currentDateTime().toString(stampFormat));
    return true;
}

void CZnCIPService_Static::writeLog(bool finished)
{
    // Without a published CIP object the module is not running; the lines wait.
    if (!GetZnCIP())
        return;
    if (pendingLines.empty())
    {
        writeTimer.start();
        return;
    }
    if (!EnsureLogFilePath())
        return;

    QFile file(logFilePath);
    const qint64 size = file.size();
    const bool opened = size > 0 ? file.open(QIODevice::ReadWrite) && file.seek(file.size())
                                 : file.open(QIODevice::WriteOnly);
    // A log that cannot be written loses this write's lines quietly, exactly as if they had been
    // written; the next write picks a new file.
    QBuffer nowhere;
    if (!opened)
        nowhere.open(QIODevice::WriteOnly);
    QXmlStreamWriter xml(opened ? static_cast<QIODevice*>(&file) : &nowhere);

    if (size == 0)
    {
        xml.writeComment(headerText(logFilePath));
        xml.writeCharacters(QStringLiteral("\n"));
    }
    xml.setAutoFormatting(true);
    xml.setAutoFormattingIndent(2);
    if (size == 0)
        xml.writeStartDocument();

    for (std::size_t i = 0; i < pendingLines.size(); ++i)
    {
        const QStringList fields = pendingLines[i].split(separator());
        const QString& group = fields.first();
        if (group != lastElement)
        {
            if (!lastElement.isEmpty())
                xml.writeEndElement();
            xml.writeStartElement(group);
        }
        else if (i == 0)
        {
            xml.writeStartElement(group);
        }
        if (fields.size() == 3)
            xml.writeTextElement(fields.at(1), fields.at(2));
        else if (fields.size() == 2)
            xml.writeTextElement(group, fields.at(1));
        lastElement = group;
    }
    xml.writeEndElement();
    if (finished)
        xml.writeEndDocument();
    pendingLines.clear();
}
