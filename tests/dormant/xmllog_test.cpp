// The XML log service on real files in the test's own folder, read back with QXmlStreamReader.
#include "czncipimpl.h"
#include "czncipservice_static.h"
#include "cznresources.h"
#include "cznsystemservices.h"
#include "hostfixture.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>
#include <QXmlStreamReader>

#include <memory>

namespace
{
struct Group
{
    QString name;
    QList<QPair<QString, QString>> children; // element name, text

    QString child(const QString& element) const
    {
        for (const auto& c : children)
            if (c.first == element)
                return c.second;
        return QStringLiteral("<missing>");
    }
};

// A log file split into what a reader sees: the header comment, how many XML declarations the file
// holds and where the first one stands, and the group elements at the top level.
struct LogFile
{
    QString raw;
    QString comment;
    int declarations = 0;
    bool declarationFollowsHeader = false;
    QList<Group> groups;
    QString error;

    QStringList groupNames() const
    {
        QStringList names;
        for (const Group& g : groups)
            names << g.name;
        return names;
    }
};

LogFile readLog(const QString& path)
{
    LogFile log;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
    {
        log.error = QStringLiteral("cannot open ") + path;
        return log;
    }
    log.raw = QString::fromUtf8(file.readAll());

    static const QRegularExpression declaration(QStringLiteral("<\\?xml[^>]*\\?>"));
    QString body = log.raw;
    log.declarations = body.count(declaration);

    if (body.startsWith(QLatin1String("<!--")))
    {
        const int end = body.indexOf(QLatin1String("-->"));
        QXmlStreamReader header(body.left(end + 3));
        while (!header.atEnd() && header.readNext() != QXmlStreamReader::Comment)
        {
        }
        log.comment = header.text().toString();
        log.declarationFollowsHeader =
            body.mid(end + 3).startsWith(QLatin1String("\n<?xml version=\"1.0\" encoding=\"UTF-8\"?>"));
        body = body.mid(end + 3);
    }
    // The log has no single root and its declaration follows the header comment, so a reader sees
    // the groups only inside a root of its own.
    body.remove(declaration);
    QXmlStreamReader xml(QStringLiteral("<log>") + body + QStringLiteral("</log>"));
    xml.readNextStartElement();
    while (xml.readNextStartElement())
    {
        Group group;
        group.name = xml.name().toString();
        while (xml.readNextStartElement())
        {
            const QString name = xml.name().toString();
            group.children.append({name, xml.readElementText()});
        }
        log.groups.append(group);
    }
    if (xml.hasError())
        log.error = xml.errorString();
    return log;
}

class XmlLog : public HostFixture
{
protected:
    void SetUp() override
    {
        HostFixture::SetUp();
        savedUser = qgetenv("USER");
        savedUserName = qgetenv("USERNAME");
        hadUser = qEnvironmentVariableIsSet("USER");
        hadUserName = qEnvironmentVariableIsSet("USERNAME");
        qputenv("USER", "cip-tester");
        cip = std::make_unique<CZnCIPImpl>();
        SetZnCIP(cip.get());
        service = std::make_unique<CZnCIPService_Static>();
    }
    void TearDown() override
    {
        service.reset();
        SetZnCIP(nullptr);
        cip.reset();
        restore("USER", hadUser, savedUser);
        restore("USERNAME", hadUserName, savedUserName);
        HostFixture::TearDown();
    }
    static void restore(const char* name, bool had, const QByteArray& value)
    {
        if (had)
            qputenv(name, value);
        else
            qunsetenv(name);
    }

    QString logFolder() const { return path(QStringLiteral("profiles/CIP Logs")); }
    void command(const QString& action, const QString& label)
    {
        service->SetEvent(CZnString("Commands"), CZnString(action), CZnString(label), 1);
        service->Send();
    }

    std::unique_ptr<CZnCIPImpl> cip;
    std::unique_ptr<CZnCIPService_Static> service;
    QByteArray savedUser, savedUserName;
    bool hadUser = false, hadUserName = false;
};

const QRegularExpression& localTime()
{
    static const QRegularExpression re(
        QStringLiteral("^\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\\.\\d{3}$"));
    return re;
}
} // namespace

// --- File, header and declaration --------------------------------------------------------------

TEST_F(XmlLog, NewFileGetsHeaderAndDeclarationOnceBesideTheProfile)
{
    command(QStringLiteral("Execute"), QStringLiteral("LINE (GROUPA)"));
    service->writeLog();
    const QString first = service->LogFilePath();
    command(QStringLiteral("Execute"), QStringLiteral("CIRCLE (GROUPA)"));
    service->writeLog();

    EXPECT_EQ(service->LogFilePath(), first);
    EXPECT_EQ(QFileInfo(first).absolutePath(), QFileInfo(logFolder()).absoluteFilePath());
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^CIP_\\d{15}\\.xml$"))
                    .match(QFileInfo(first).fileName())
                    .hasMatch())
        << first.toStdString();

    const LogFile log = readLog(first);
    ASSERT_TRUE(log.error.isEmpty()) << log.error.toStdString();
    EXPECT_TRUE(log.raw.startsWith(QLatin1String("<!--")));
    EXPECT_EQ(log.declarations, 1);
    EXPECT_TRUE(log.declarationFollowsHeader);
    EXPECT_EQ(log.raw.count(QLatin1String("<!--")), 1);

    const QStringList header = log.comment.split(QLatin1Char('\n'));
    ASSERT_EQ(header.size(), 2) << log.comment.toStdString();
    EXPECT_EQ(header.at(0), QStringLiteral("ZnCAD generates a log file: ") + first);
    const QRegularExpressionMatch tail =
        QRegularExpression(QStringLiteral("^recorded on (.*) by (.*)\\.$")).match(header.at(1));
    ASSERT_TRUE(tail.hasMatch()) << header.at(1).toStdString();
    EXPECT_TRUE(localTime().match(tail.captured(1)).hasMatch()) << tail.captured(1).toStdString();
    EXPECT_EQ(tail.captured(2), QStringLiteral("cip-tester"));

    // One group per write, even for the same category.
    ASSERT_EQ(log.groupNames(), QStringList({"Commands", "Commands"}));
    EXPECT_EQ(log.groups.at(0).child("Execute"), QStringLiteral("LINE (GROUPA)"));
    EXPECT_EQ(log.groups.at(1).child("Execute"), QStringLiteral("CIRCLE (GROUPA)"));
}

TEST_F(XmlLog, HeaderNamesTheProductAndFallsBackToUSERNAME)
{
    GetZnResources()->SetProductName(CZnString("Drafting Studio"));
    qputenv("USER", "");
    qputenv("USERNAME", "Ren\xe9");
    command(QStringLiteral("Execute"), QStringLiteral("LINE"));
    service->writeLog();

    const LogFile log = readLog(service->LogFilePath());
    EXPECT_TRUE(log.comment.startsWith(QStringLiteral("Drafting Studio generates a log file: ")));
    // The variable's bytes are taken as Latin-1.
    EXPECT_TRUE(log.comment.endsWith(QStringLiteral(" by Ren") + QChar(0xE9) + QLatin1Char('.')))
        << log.comment.toStdString();
}

// --- From lines to groups ----------------------------------------------------------------------

TEST_F(XmlLog, LinesOfOneCategoryInOneWriteShareAGroupAndSplitAcrossWrites)
{
    service->StartSession();
    service->writeLog();
    LogFile log = readLog(service->LogFilePath());
    ASSERT_TRUE(log.error.isEmpty()) << log.error.toStdString();
    ASSERT_EQ(log.groupNames(), QStringList({"Application", "Session"}));
    const Group& application = log.groups.at(0);
    ASSERT_EQ(application.children.size(), 3);
    EXPECT_EQ(application.children.at(0).first, QStringLiteral("path"));
    EXPECT_EQ(application.children.at(0).second, QCoreApplication::applicationDirPath());
    EXPECT_EQ(application.children.at(1).first, QStringLiteral("name"));
    EXPECT_EQ(application.children.at(1).second, QCoreApplication::applicationName());
    EXPECT_EQ(application.children.at(2).first, QStringLiteral("version"));
    EXPECT_EQ(application.children.at(2).second, GetZnSystemServices()->GetVersionText().toQString());
    ASSERT_EQ(log.groups.at(1).children.size(), 1);
    EXPECT_TRUE(localTime().match(log.groups.at(1).child("Start")).hasMatch());

    // Lines of one category split over two writes give two groups; interleaved categories give one
    // group per run of lines.
    command(QStringLiteral("Execute"), QStringLiteral("A"));
    command(QStringLiteral("Execute"), QStringLiteral("B"));
    service->writeLog();
    command(QStringLiteral("Execute"), QStringLiteral("C"));
    service->SetEvent(CZnString("Toolbar"), CZnString("Show"), CZnString("Draw"), 1);
    service->Send();
    command(QStringLiteral("Execute"), QStringLiteral("D"));
    service->writeLog();

    log = readLog(service->LogFilePath());
    ASSERT_TRUE(log.error.isEmpty()) << log.error.toStdString();
    EXPECT_EQ(log.groupNames(),
              QStringList({"Application", "Session", "Commands", "Commands", "Toolbar", "Commands"}));
    EXPECT_EQ(log.groups.at(2).children.size(), 2);
    EXPECT_EQ(log.groups.at(3).child("Execute"), QStringLiteral("C"));
    EXPECT_EQ(log.groups.at(5).child("Execute"), QStringLiteral("D"));
}

TEST_F(XmlLog, EventLinesDropBlanksFromTheActionAndNeverShowTheValue)
{
    service->SetEvent(CZnString("Commands"), CZnString("Zoom Window"), CZnString("ZOOM"), 4711);
    service->Send();
    command(QStringLiteral("Execute"), QString());
    // Four blanks inside the label split the line into too many fields: the group stays empty.
    command(QStringLiteral("Execute"), QStringLiteral("A    B"));
    service->writeLog();

    const LogFile log = readLog(service->LogFilePath());
    ASSERT_TRUE(log.error.isEmpty()) << log.error.toStdString();
    ASSERT_EQ(log.groups.size(), 1);
    const Group& commands = log.groups.at(0);
    ASSERT_EQ(commands.children.size(), 2);
    EXPECT_EQ(commands.children.at(0), qMakePair(QStringLiteral("ZoomWindow"), QStringLiteral("ZOOM")));
    EXPECT_EQ(commands.children.at(1), qMakePair(QStringLiteral("Execute"), QString()));
    EXPECT_FALSE(log.raw.contains(QLatin1String("4711")));
    EXPECT_FALSE(log.raw.contains(QLatin1String("A    B")));
}

TEST_F(XmlLog, ScreenViewsGiveAChildOnlyForOneOrTwoValues)
{
    service->SetScreenValue(CZnString("Screen"), CZnString("Resolution"), 3, CZnString("1920x1080"));
    service->Send();
    service->SetScreenValue(CZnString("System"), CZnString("ignored"), 2, 8);
    service->SetScreenValue(CZnString("System"), CZnString("ignored"), 1, CZnString("Threads"));
    service->Send();
    service->SetScreenValue(CZnString("OpenGL"), CZnString("a"), 1, CZnString("x"));
    service->SetScreenValue(CZnString("OpenGL"), CZnString("b"), 2, 1.5);
    service->SetScreenValue(CZnString("OpenGL"), CZnString("c"), 3, CZnString("z"));
    service->Send();
    service->writeLog();

    const LogFile log = readLog(service->LogFilePath());
    ASSERT_TRUE(log.error.isEmpty()) << log.error.toStdString();
    ASSERT_EQ(log.groupNames(), QStringList({"Screen", "System", "OpenGL"}));
    // One value: a child named after the screen.
    EXPECT_EQ(log.groups.at(0).children,
              (QList<QPair<QString, QString>>{{QStringLiteral("Screen"), QStringLiteral("1920x1080")}}));
    // Two values, in index order: the first names the child, the second is its text.
    EXPECT_EQ(log.groups.at(1).children,
              (QList<QPair<QString, QString>>{{QStringLiteral("Threads"), QStringLiteral("8")}}));
    EXPECT_TRUE(log.groups.at(2).children.isEmpty());
    EXPECT_FALSE(log.raw.contains(QLatin1String("ignored")));
}

TEST_F(XmlLog, CategoriesOutsideTheAllowedListNeverBecomeLines)
{
    for (const char* category : {"Drawing", "Build", "Variables", "commands", "Elsewhere"})
    {
        service->SetEvent(CZnString(category), CZnString("Execute"), CZnString("X"), 1);
        service->Send();
    }
    service->SetScreenValue(CZnString("Performance"), CZnString("Name"), 1, CZnString("Regen"));
    service->Send();
    service->Send();
    EXPECT_TRUE(service->PendingLines().empty());
    service->writeLog();
    EXPECT_FALSE(QFileInfo::exists(logFolder()));
}

// --- Session end ---------------------------------------------------------------------------------

TEST_F(XmlLog, NormalStopWritesTypeAndEndInOneGroup)
{
    service->StopSession(0, nullptr);

    const LogFile log = readLog(service->LogFilePath());
    ASSERT_TRUE(log.error.isEmpty()) << log.error.toStdString();
    ASSERT_EQ(log.groupNames(), QStringList({"Session"}));
    const Group& session = log.groups.at(0);
    ASSERT_EQ(session.children.size(), 2);
    EXPECT_EQ(session.children.at(0), qMakePair(QStringLiteral("Type"), QStringLiteral("Normal")));
    EXPECT_EQ(session.children.at(1).first, QStringLiteral("End"));
    EXPECT_TRUE(localTime().match(session.children.at(1).second).hasMatch());
    EXPECT_TRUE(service->PendingLines().empty());

    // Any reason but a hang or a crash is a normal end, folder or not.
    service->StopSession(7, path().toUtf8().constData());
    const LogFile again = readLog(service->LogFilePath());
    ASSERT_EQ(again.groups.size(), 2);
    EXPECT_EQ(again.groups.at(1).child("Type"), QStringLiteral("Normal"));
    EXPECT_EQ(again.groups.at(1).child("CallStack"), QStringLiteral("<missing>"));
}

TEST_F(XmlLog, CrashStopCopiesTheCrashInformationBesideTheLog)
{
    const QString crashFolder = path(QStringLiteral("sessions/bad/0001"));
    ASSERT_TRUE(QDir().mkpath(crashFolder));
    QFile info(crashFolder + QStringLiteral("/crashinfo.xml"));
    ASSERT_TRUE(info.open(QIODevice::WriteOnly));
    info.write("<crash module=\"zncad\"/>");
    info.close();

    command(QStringLiteral("Execute"), QStringLiteral("LINE"));
    service->StopSession(2, crashFolder.toUtf8().constData());

    const QString logPath = service->LogFilePath();
    const QString copy = QFileInfo(logPath).absolutePath() + QLatin1Char('/') +
                         QFileInfo(logPath).baseName() + QStringLiteral("_crashinfo.xml");
    QFile copied(copy);
    ASSERT_TRUE(copied.open(QIODevice::ReadOnly)) << copy.toStdString();
    EXPECT_EQ(copied.readAll(), QByteArray("<crash module=\"zncad\"/>"));

    // The type goes out with the first write, which names the log; the rest with the second.
    const LogFile log = readLog(logPath);
    ASSERT_TRUE(log.error.isEmpty()) << log.error.toStdString();
    ASSERT_EQ(log.groupNames(), QStringList({"Commands", "Session", "Session"}));
    EXPECT_EQ(log.groups.at(1).children,
              (QList<QPair<QString, QString>>{{QStringLiteral("Type"), QStringLiteral("Crash")}}));
    const Group& end = log.groups.at(2);
    ASSERT_EQ(end.children.size(), 2);
    EXPECT_EQ(end.children.at(0), qMakePair(QStringLiteral("CallStack"), QDir::cleanPath(copy)));
    EXPECT_EQ(end.children.at(1).first, QStringLiteral("End"));

    // A second crash report finds the copy already there: the copy is not replaced, and the text
    // still names it.
    QFile::remove(crashFolder + QStringLiteral("/crashinfo.xml"));
    service->StopSession(2, crashFolder.toUtf8().constData());
    const LogFile again = readLog(logPath);
    ASSERT_EQ(again.groups.size(), 5);
    EXPECT_EQ(again.groups.at(4).child("CallStack"), QDir::cleanPath(copy));
    ASSERT_TRUE(copied.seek(0));
    EXPECT_EQ(copied.readAll(), QByteArray("<crash module=\"zncad\"/>"));
}

TEST_F(XmlLog, HangWithoutAUsableFolderWritesAnEmptyCallStack)
{
    // Without a folder everything goes out in one write.
    service->StopSession(1, nullptr);
    LogFile log = readLog(service->LogFilePath());
    ASSERT_EQ(log.groupNames(), QStringList({"Session"}));
    EXPECT_EQ(log.groups.at(0).child("Type"), QStringLiteral("Hang"));
    EXPECT_EQ(log.groups.at(0).child("CallStack"), QString());

    // A folder that does not exist still splits the writes, and nothing is copied.
    const QString missing = path(QStringLiteral("no-such-folder"));
    service->StopSession(1, missing.toUtf8().constData());
    log = readLog(service->LogFilePath());
    ASSERT_EQ(log.groupNames(), QStringList({"Session", "Session", "Session"}));
    EXPECT_EQ(log.groups.at(1).children.size(), 1);
    EXPECT_EQ(log.groups.at(2).child("CallStack"), QString());
    EXPECT_EQ(QDir(logFolder()).entryList(QDir::Files).size(), 1);
}

// --- When nothing, or nowhere, can be written -------------------------------------------------

TEST_F(XmlLog, NothingPendingCreatesNoFileAndTheTimerKeepsGoing)
{
    EXPECT_TRUE(service->WriteTimer().isActive());
    EXPECT_EQ(service->WriteTimer().interval(), 30000);
    EXPECT_FALSE(service->WriteTimer().isSingleShot());

    service->writeLog();
    EXPECT_FALSE(QFileInfo::exists(logFolder()));
    EXPECT_TRUE(service->LogFilePath().isEmpty());
    EXPECT_TRUE(service->WriteTimer().isActive());
}

TEST_F(XmlLog, TheTimersTimeoutWritesThePendingLines)
{
    command(QStringLiteral("Execute"), QStringLiteral("LINE"));
    QTimer& timer = const_cast<QTimer&>(service->WriteTimer());
    ASSERT_TRUE(QMetaObject::invokeMethod(&timer, "timeout", Qt::DirectConnection));
    EXPECT_TRUE(service->PendingLines().empty());
    EXPECT_EQ(readLog(service->LogFilePath()).groupNames(), QStringList({"Commands"}));
}

TEST_F(XmlLog, WithoutTheCIPObjectOrAProfileTheLinesWait)
{
    SetZnCIP(nullptr);
    command(QStringLiteral("Execute"), QStringLiteral("A"));
    service->writeLog();
    EXPECT_EQ(service->PendingLines().size(), 1u);
    EXPECT_FALSE(QFileInfo::exists(logFolder()));

    SetZnCIP(cip.get());
    GetZnSystemServices()->ClearProfile();
    service->writeLog();
    EXPECT_EQ(service->PendingLines().size(), 1u);
    EXPECT_FALSE(QFileInfo::exists(logFolder()));

    GetZnSystemServices()->SetProfile(QStringLiteral("Default"), path(QStringLiteral("profiles/Default")));
    service->writeLog();
    EXPECT_TRUE(service->PendingLines().empty());
    const LogFile log = readLog(service->LogFilePath());
    ASSERT_EQ(log.groups.size(), 1);
    EXPECT_EQ(log.groups.at(0).child("Execute"), QStringLiteral("A"));
}

TEST_F(XmlLog, ALogDeletedWhileRunningIsReplacedByANewFile)
{
    command(QStringLiteral("Execute"), QStringLiteral("A"));
    service->writeLog();
    const QString first = service->LogFilePath();
    ASSERT_TRUE(QFile::remove(first));
    QThread::msleep(5); // the name carries the time to the millisecond

    command(QStringLiteral("Execute"), QStringLiteral("B"));
    service->writeLog();
    EXPECT_NE(service->LogFilePath(), first);
    const LogFile log = readLog(service->LogFilePath());
    ASSERT_TRUE(log.error.isEmpty()) << log.error.toStdString();
    EXPECT_TRUE(log.declarationFollowsHeader);
    EXPECT_TRUE(log.comment.contains(service->LogFilePath()));
    ASSERT_EQ(log.groups.size(), 1);
    EXPECT_EQ(log.groups.at(0).child("Execute"), QStringLiteral("B"));
}

TEST_F(XmlLog, AnUnwritableFolderLosesThatWritesLinesOnly)
{
    // A plain file where the log folder belongs: neither the folder nor the log can be made, not
    // even by a privileged user.
    QFile blocker(logFolder());
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    command(QStringLiteral("Execute"), QStringLiteral("LOST"));
    service->writeLog();
    EXPECT_TRUE(service->PendingLines().empty());
    EXPECT_FALSE(QFileInfo::exists(service->LogFilePath()));
    EXPECT_EQ(QFileInfo(logFolder()).size(), 0);

    ASSERT_TRUE(QFile::remove(logFolder()));
    command(QStringLiteral("Execute"), QStringLiteral("KEPT"));
    service->writeLog();
    const LogFile log = readLog(service->LogFilePath());
    ASSERT_TRUE(log.error.isEmpty()) << log.error.toStdString();
    EXPECT_TRUE(log.declarationFollowsHeader);
    ASSERT_EQ(log.groups.size(), 1);
    EXPECT_EQ(log.groups.at(0).children,
              (QList<QPair<QString, QString>>{{QStringLiteral("Execute"), QStringLiteral("KEPT")}}));
    EXPECT_FALSE(log.raw.contains(QLatin1String("LOST")));
}
