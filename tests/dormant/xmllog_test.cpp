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
using Children = QList<QPair<QString, QString>>; // element name, text

struct Group
{
    QString name;
    Children children;
    QString child(const QString& element) const
    {
        for (const auto& c : children)
            if (c.first == element)
                return c.second;
        return QStringLiteral("<missing>");
    }
};

// A log file as a reader sees it: header comment, XML declarations and the top-level groups.
struct LogFile
{
    QString raw, comment, error;
    int declarations = 0;
    bool declarationFollowsHeader = false;
    QList<Group> groups;
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
        return log.error = QStringLiteral("cannot open ") + path, log;
    log.raw = QString::fromUtf8(file.readAll());
    static const QRegularExpression declaration(QStringLiteral("<\\?xml[^>]*\\?>"));
    QString body = log.raw;
    log.declarations = body.count(declaration);
    if (body.startsWith(QLatin1String("<!--")))
    {
        const int end = body.indexOf(QLatin1String("-->")) + 3;
        QXmlStreamReader header(body.left(end));
        while (!header.atEnd() && header.readNext() != QXmlStreamReader::Comment)
        {
        }
        log.comment = header.text().toString();
        body = body.mid(end);
        log.declarationFollowsHeader =
            body.startsWith(QLatin1String("\n<?xml version=\"1.0\" encoding=\"UTF-8\"?>"));
    }
    // The log has no single root, so the groups are read inside a root of the reader's own.
    body.remove(declaration);
    QXmlStreamReader xml(QStringLiteral("<log>") + body + QStringLiteral("</log>"));
    xml.readNextStartElement();
    while (xml.readNextStartElement())
    {
        Group group{xml.name().toString(), {}};
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

bool isLocalTime(const QString& text)
{
    static const QRegularExpression re(
        QStringLiteral("^\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\\.\\d{3}$"));
    return re.match(text).hasMatch();
}

class XmlLog : public HostFixture
{
protected:
    void SetUp() override
    {
        HostFixture::SetUp();
        for (const char* name : {"USER", "USERNAME"})
            savedEnv.append({name, qEnvironmentVariableIsSet(name), qgetenv(name)});
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
        for (const Env& e : savedEnv)
            e.had ? qputenv(e.name, e.value) : qunsetenv(e.name);
        HostFixture::TearDown();
    }

    QString logFolder() const { return path(QStringLiteral("profiles/CIP Logs")); }
    void command(const QString& label, const char* category = "Commands", const char* action = "Execute",
                 int value = 1)
    {
        service->SetEvent(CZnString(category), CZnString(action), CZnString(label), value);
        service->Send();
    }
    // Writes and reads the log back, failing the test on a parse error.
    LogFile written()
    {
        service->writeLog();
        LogFile log = readLog(service->LogFilePath());
        EXPECT_TRUE(log.error.isEmpty()) << log.error.toStdString();
        return log;
    }

    struct Env
    {
        const char* name;
        bool had;
        QByteArray value;
    };
    QList<Env> savedEnv;
    std::unique_ptr<CZnCIPImpl> cip;
    std::unique_ptr<CZnCIPService_Static> service;
};
} // namespace

TEST_F(XmlLog, NewFileGetsHeaderAndDeclarationOnceBesideTheProfile)
{
    command(QStringLiteral("LINE (GROUPA)"));
    service->writeLog();
    const QString first = service->LogFilePath();
    command(QStringLiteral("CIRCLE (GROUPA)"));
    const LogFile log = written();

    EXPECT_EQ(service->LogFilePath(), first);
    EXPECT_EQ(QFileInfo(first).absolutePath(), QFileInfo(logFolder()).absoluteFilePath());
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^CIP_\\d{15}\\.xml$"))
                    .match(QFileInfo(first).fileName())
                    .hasMatch())
        << first.toStdString();
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
    EXPECT_TRUE(isLocalTime(tail.captured(1))) << tail.captured(1).toStdString();
    EXPECT_EQ(tail.captured(2), QStringLiteral("cip-tester"));

    // One group per write, even for the same category.
    ASSERT_EQ(log.groupNames(), QStringList({"Commands", "Commands"}));
    EXPECT_EQ(log.groups.at(0).child("Execute"), QStringLiteral("LINE (GROUPA)"));
    EXPECT_EQ(log.groups.at(1).child("Execute"), QStringLiteral("CIRCLE (GROUPA)"));
}

TEST_F(XmlLog, LinesOfOneCategoryInOneWriteShareAGroupAndSplitAcrossWrites)
{
    service->StartSession();
    LogFile log = written();
    ASSERT_EQ(log.groupNames(), QStringList({"Application", "Session"}));
    EXPECT_EQ(log.groups.at(0).children,
              (Children{{"path", QCoreApplication::applicationDirPath()},
                        {"name", QCoreApplication::applicationName()},
                        {"version", GetZnSystemServices()->GetVersionText().toQString()}}));
    ASSERT_EQ(log.groups.at(1).children.size(), 1);
    EXPECT_TRUE(isLocalTime(log.groups.at(1).child("Start")));

    // Interleaved categories give one group per run of lines.
    command(QStringLiteral("A"));
    command(QStringLiteral("B"));
    service->writeLog();
    command(QStringLiteral("C"));
    command(QStringLiteral("Draw"), "Toolbar", "Show");
    command(QStringLiteral("D"));
    log = written();
    EXPECT_EQ(log.groupNames(),
              QStringList({"Application", "Session", "Commands", "Commands", "Toolbar", "Commands"}));
    EXPECT_EQ(log.groups.at(2).children.size(), 2);
    EXPECT_EQ(log.groups.at(3).child("Execute"), QStringLiteral("C"));
    EXPECT_EQ(log.groups.at(5).child("Execute"), QStringLiteral("D"));
}

TEST_F(XmlLog, EventLinesDropBlanksFromTheActionAndNeverShowTheValue)
{
    command(QStringLiteral("ZOOM"), "Commands", "Zoom Window", 4711);
    command(QString());
    // Four blanks inside the label split the line into too many fields: no child for it.
    command(QStringLiteral("A    B"));
    const LogFile log = written();
    ASSERT_EQ(log.groups.size(), 1);
    EXPECT_EQ(log.groups.at(0).children, (Children{{"ZoomWindow", "ZOOM"}, {"Execute", QString()}}));
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
    const LogFile log = written();
    ASSERT_EQ(log.groupNames(), QStringList({"Screen", "System", "OpenGL"}));
    // One value names the child after the screen; two, in index order, give name and text.
    EXPECT_EQ(log.groups.at(0).children, (Children{{"Screen", "1920x1080"}}));
    EXPECT_EQ(log.groups.at(1).children, (Children{{"Threads", "8"}}));
    EXPECT_TRUE(log.groups.at(2).children.isEmpty());
    EXPECT_FALSE(log.raw.contains(QLatin1String("ignored")));
}

TEST_F(XmlLog, CategoriesOutsideTheAllowedListNeverBecomeLines)
{
    for (const char* category : {"Drawing", "Build", "Variables", "commands", "Elsewhere"})
        command(QStringLiteral("X"), category);
    service->SetScreenValue(CZnString("Performance"), CZnString("Name"), 1, CZnString("Regen"));
    service->Send();
    service->Send();
    EXPECT_TRUE(service->PendingLines().empty());
    service->writeLog();
    EXPECT_FALSE(QFileInfo::exists(logFolder()));
}

TEST_F(XmlLog, StopWritesTypeEndAndForAHangAnEmptyCallStack)
{
    service->StopSession(0, nullptr);
    LogFile log = readLog(service->LogFilePath());
    ASSERT_TRUE(log.error.isEmpty()) << log.error.toStdString();
    ASSERT_EQ(log.groupNames(), QStringList({"Session"}));
    const Children& session = log.groups.at(0).children;
    ASSERT_EQ(session.size(), 2);
    EXPECT_EQ(session.at(0), qMakePair(QStringLiteral("Type"), QStringLiteral("Normal")));
    EXPECT_EQ(session.at(1).first, QStringLiteral("End"));
    EXPECT_TRUE(isLocalTime(session.at(1).second));
    EXPECT_TRUE(service->PendingLines().empty());

    // Any reason but a hang or a crash is a normal end, folder or not.
    service->StopSession(7, path().toUtf8().constData());
    log = readLog(service->LogFilePath());
    ASSERT_EQ(log.groups.size(), 2);
    EXPECT_EQ(log.groups.at(1).child("Type"), QStringLiteral("Normal"));
    EXPECT_EQ(log.groups.at(1).child("CallStack"), QStringLiteral("<missing>"));

    // A hang without a folder goes out in one write with an empty call stack.
    service->StopSession(1, nullptr);
    log = readLog(service->LogFilePath());
    ASSERT_EQ(log.groups.size(), 3);
    EXPECT_EQ(log.groups.at(2).child("Type"), QStringLiteral("Hang"));
    EXPECT_EQ(log.groups.at(2).child("CallStack"), QString());

    // A folder that does not exist still splits the writes, and nothing is copied.
    service->StopSession(1, path(QStringLiteral("no-such-folder")).toUtf8().constData());
    log = readLog(service->LogFilePath());
    ASSERT_EQ(log.groupNames(), QStringList({"Session", "Session", "Session", "Session", "Session"}));
    EXPECT_EQ(log.groups.at(3).children.size(), 1);
    EXPECT_EQ(log.groups.at(4).child("CallStack"), QString());
    EXPECT_EQ(QDir(logFolder()).entryList(QDir::Files).size(), 1);
}

TEST_F(XmlLog, CrashStopCopiesTheCrashInformationBesideTheLog)
{
    const QString crashFolder = path(QStringLiteral("sessions/bad/0001"));
    const QByteArray info = "<crash module=\"zncad\"/>";
    ASSERT_TRUE(QDir().mkpath(crashFolder));
    QFile source(crashFolder + QStringLiteral("/crashinfo.xml"));
    ASSERT_TRUE(source.open(QIODevice::WriteOnly) && source.write(info) == info.size());
    source.close();

    command(QStringLiteral("LINE"));
    service->StopSession(2, crashFolder.toUtf8().constData());
    const QFileInfo logInfo(service->LogFilePath());
    const QString copy = logInfo.absolutePath() + QLatin1Char('/') + logInfo.baseName() + "_crashinfo.xml";
    QFile copied(copy);
    ASSERT_TRUE(copied.open(QIODevice::ReadOnly)) << copy.toStdString();
    EXPECT_EQ(copied.readAll(), info);

    // The type goes out with the first write, which names the log; the rest with the second.
    LogFile log = readLog(logInfo.filePath());
    ASSERT_TRUE(log.error.isEmpty()) << log.error.toStdString();
    ASSERT_EQ(log.groupNames(), QStringList({"Commands", "Session", "Session"}));
    EXPECT_EQ(log.groups.at(1).children, (Children{{"Type", "Crash"}}));
    const Children& end = log.groups.at(2).children;
    ASSERT_EQ(end.size(), 2);
    EXPECT_EQ(end.at(0), qMakePair(QStringLiteral("CallStack"), QDir::cleanPath(copy)));
    EXPECT_EQ(end.at(1).first, QStringLiteral("End"));

    // A second crash report finds the copy there: it is not replaced, and the text still names it.
    QFile::remove(source.fileName());
    service->StopSession(2, crashFolder.toUtf8().constData());
    log = readLog(logInfo.filePath());
    ASSERT_EQ(log.groups.size(), 5);
    EXPECT_EQ(log.groups.at(4).child("CallStack"), QDir::cleanPath(copy));
    ASSERT_TRUE(copied.seek(0));
    EXPECT_EQ(copied.readAll(), info);
}

TEST_F(XmlLog, TheTimerWritesPendingLinesOnlyAndNothingPendingCreatesNoFile)
{
    const QTimer& timer = service->WriteTimer();
    EXPECT_TRUE(timer.isActive());
    EXPECT_EQ(timer.interval(), 30000);
    EXPECT_FALSE(timer.isSingleShot());
    service->writeLog();
    EXPECT_FALSE(QFileInfo::exists(logFolder()));
    EXPECT_TRUE(service->LogFilePath().isEmpty());
    EXPECT_TRUE(timer.isActive());

    command(QStringLiteral("LINE"));
    ASSERT_TRUE(QMetaObject::invokeMethod(const_cast<QTimer*>(&timer), "timeout", Qt::DirectConnection));
    EXPECT_TRUE(service->PendingLines().empty());
    EXPECT_EQ(readLog(service->LogFilePath()).groupNames(), QStringList({"Commands"}));
}

TEST_F(XmlLog, WithoutTheCIPObjectOrAProfileTheLinesWait)
{
    SetZnCIP(nullptr);
    command(QStringLiteral("A"));
    service->writeLog();
    EXPECT_EQ(service->PendingLines().size(), 1u);
    EXPECT_FALSE(QFileInfo::exists(logFolder()));

    SetZnCIP(cip.get());
    GetZnSystemServices()->ClearProfile();
    service->writeLog();
    EXPECT_EQ(service->PendingLines().size(), 1u);
    EXPECT_FALSE(QFileInfo::exists(logFolder()));

    GetZnSystemServices()->SetProfile(QStringLiteral("Default"), path(QStringLiteral("profiles/Default")));
    const LogFile log = written();
    EXPECT_TRUE(service->PendingLines().empty());
    ASSERT_EQ(log.groups.size(), 1);
    EXPECT_EQ(log.groups.at(0).child("Execute"), QStringLiteral("A"));
}

TEST_F(XmlLog, ADeletedLogIsReplacedAndAnUnwritableFolderLosesThatWritesLinesOnly)
{
    command(QStringLiteral("A"));
    service->writeLog();
    const QString first = service->LogFilePath();
    ASSERT_TRUE(QFile::remove(first));
    QThread::msleep(5); // the name carries the time to the millisecond
    // The new file's header names the product and, without USER, falls back to USERNAME.
    GetZnResources()->SetProductName(CZnString("Drafting Studio"));
    qputenv("USER", "");
    qputenv("USERNAME", "Ren\xe9");
    command(QStringLiteral("B"));
    LogFile log = written();
    EXPECT_NE(service->LogFilePath(), first);
    EXPECT_TRUE(log.declarationFollowsHeader);
    EXPECT_TRUE(log.comment.startsWith("Drafting Studio generates a log file: " + service->LogFilePath()));
    // The variable's bytes are taken as Latin-1.
    EXPECT_TRUE(log.comment.endsWith(QStringLiteral(" by Ren") + QChar(0xE9) + QLatin1Char('.')))
        << log.comment.toStdString();
    EXPECT_EQ(log.groups.size(), 1);
    EXPECT_EQ(log.groups.value(0).child("Execute"), QStringLiteral("B"));

    // A plain file where the log folder belongs: neither folder nor log can be made, even by root.
    // A new service that has written nothing yet.
    service = std::make_unique<CZnCIPService_Static>();
    ASSERT_TRUE(QDir(logFolder()).removeRecursively());
    QFile blocker(logFolder());
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    command(QStringLiteral("LOST"));
    service->writeLog();
    EXPECT_TRUE(service->PendingLines().empty());
    EXPECT_FALSE(QFileInfo::exists(service->LogFilePath()));
    EXPECT_EQ(QFileInfo(logFolder()).size(), 0);

    ASSERT_TRUE(QFile::remove(logFolder()));
    command(QStringLiteral("KEPT"));
    log = written();
    EXPECT_TRUE(log.declarationFollowsHeader);
    EXPECT_EQ(log.groups.value(0).children, (Children{{"Execute", "KEPT"}}));
    EXPECT_EQ(log.groups.size(), 1);
    EXPECT_FALSE(log.raw.contains(QLatin1String("LOST")));
}
