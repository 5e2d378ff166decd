// The XML log service on real files in the test's own folder, each log read back whole.
#include "czncipimpl.h"
#include "czncipservice_static.h"
#include "cznplatform.h"
#include "cznresources.h"
#include "cznsystemservices.h"
#include "recording.h"

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
// A log as a reader sees it: its header comment, then one line per group, "Group: child=text ...",
// with local times shown as [time]. A header or declaration out of place shows as a line of its own.
QStringList readLog(const QString& file)
{
    static const QRegularExpression time("\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\\.\\d{3}");
    QString body = QString::fromUtf8(readBytes(file)).replace(time, "[time]");
    const QString declaration = "-->\n<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
    const int end = body.indexOf(declaration);
    if (!body.startsWith("<!--") || end < 0)
        return {"<no header and declaration>", body};
    QStringList out{body.mid(4, end - 4)};
    body = body.mid(end + declaration.size());
    if (body.contains("<?xml") || body.contains("<!--"))
        out << "<second header or declaration>";
    // The log has no single root, so the groups are read inside a root of the reader's own. Names are
    // written unchecked, and ".NETFramework" is no XML name: the reader sees it as "_.NETFramework".
    QXmlStreamReader xml("<log>" + body.replace(QRegularExpression("<(/?)\\."), "<\\1_.") + "</log>");
    xml.readNextStartElement();
    while (xml.readNextStartElement())
    {
        QString group = xml.name().toString().replace("_.", ".") + ':';
        while (xml.readNextStartElement())
            group += " " + xml.name().toString() + "=" + xml.readElementText();
        out << group;
    }
    if (xml.hasError())
        out << "<error " + xml.errorString() + ">";
    return out;
}

class XmlLog : public RecordingFixture
{
protected:
    void SetUp() override
    {
        RecordingFixture::SetUp();
        qputenv("USER", "cip-tester");
        service = std::make_unique<CZnCIPService_Static>();
    }
    void TearDown() override
    {
        service.reset();
        qputenv("USER", user);
        qputenv("USERNAME", userName);
        RecordingFixture::TearDown();
    }

    QString logFolder() const { return path("profiles/CIP Logs"); }
    void command(const QString& label, const char* category = "Commands", const char* action = "Execute",
                 int value = 1)
    {
        service->SetEvent(CZnString(category), CZnString(action), CZnString(label), value);
        service->Send();
    }
    QStringList written(const QString& label)
    {
        command(label);
        service->writeLog();
        return readLog(service->LogFilePath());
    }
    QString header(const QString& product = "ZnCAD", const QString& user = "cip-tester")
    {
        return product + " generates a log file: " + service->LogFilePath() + "\nrecorded on [time] by " +
               user + ".";
    }

    const QByteArray user = qgetenv("USER"), userName = qgetenv("USERNAME");
    std::unique_ptr<CZnCIPService_Static> service;
};

// One session of every kind of line, two writes and a crash, compared whole.
TEST_F(XmlLog, AScriptedSessionGivesItsGoldenLog)
{
    const QString crashFolder = path("sessions/bad/0001");
    const QByteArray info = "<crash module=\"zncad\"/>";
    ASSERT_TRUE(QDir().mkpath(crashFolder));
    writeBytes(crashFolder + "/crashinfo.xml", info);

    CZnPlatform::SetDotNetFrameworkVersions({"v2.0.50727", "v4.0.30319"});
    service->StartSession();
    command("A");
    command("B");
    service->writeLog();
    const QString file = service->LogFilePath();
    command("C");
    command("Draw", "Toolbar", "Show");
    // Blanks leave the action; the value never shows; four blanks in a label leave no child.
    command("ZOOM", "Commands", "Zoom Window", 4711);
    command(QString());
    command("A    B");
    command("hidden", "Drawing");
    // A child for one value (named after the screen) or two (name and text in index order), else none.
    service->SetScreenValue(CZnString("Screen"), CZnString("Resolution"), 3, CZnString("1920x1080"));
    service->Send();
    service->SetScreenValue(CZnString("System"), CZnString("ignored"), 2, 8);
    service->SetScreenValue(CZnString("System"), CZnString("ignored"), 1, CZnString("Threads"));
    service->Send();
    service->SetScreenValue(CZnString("OpenGL"), CZnString("a"), 1, CZnString("x"));
    service->SetScreenValue(CZnString("OpenGL"), CZnString("b"), 2, 1.5);
    service->SetScreenValue(CZnString("OpenGL"), CZnString("c"), 3, CZnString("z"));
    service->Send();
    // A crash: the type goes with the first write, the copied crash information with the second.
    service->StopSession(2, crashFolder.toUtf8().constData());
    const QFileInfo log(file);
    const QString copy = QDir::cleanPath(log.absolutePath() + "/" + log.baseName() + "_crashinfo.xml");

    EXPECT_EQ(log.absolutePath(), QFileInfo(logFolder()).absoluteFilePath());
    EXPECT_TRUE(QRegularExpression("^CIP_\\d{15}\\.xml$").match(log.fileName()).hasMatch())
        << file.toStdString();
    EXPECT_EQ(readLog(file),
              QStringList({header(), ".NETFramework: version=v2.0.50727 version=v4.0.30319",
                           "Application: path=" + QCoreApplication::applicationDirPath() +
                               " name=" + QCoreApplication::applicationName() +
                               " version=" + GetZnSystemServices()->GetVersionText().toQString(),
                           "Session: Start=[time]", "Commands: Execute=A Execute=B", "Commands: Execute=C",
                           "Toolbar: Show=Draw", "Commands: ZoomWindow=ZOOM Execute=",
                           "Screen: Screen=1920x1080", "System: Threads=8", "OpenGL:", "Session: Type=Crash",
                           "Session: CallStack=" + copy + " End=[time]"}));
    const QByteArray bytes = readBytes(file); // nothing the reading above could pass over
    EXPECT_FALSE(bytes.contains("4711") || bytes.contains("A    B") || bytes.contains("hidden"));
    EXPECT_EQ(readBytes(copy), info);

    // A second crash finds the copy there: it is not replaced, and the log still names it.
    ASSERT_TRUE(QFile::remove(crashFolder + "/crashinfo.xml"));
    service->StopSession(2, crashFolder.toUtf8().constData());
    EXPECT_EQ(readLog(file).mid(13),
              QStringList({"Session: Type=Crash", "Session: CallStack=" + copy + " End=[time]"}));
    EXPECT_EQ(readBytes(copy), info);
}

TEST_F(XmlLog, EveryStopButACrashEndsTheSessionAndLinesWaitForTheTimerACipObjectAndAProfile)
{
    const std::tuple<int, const char*, QStringList> rows[] = {
        {0, nullptr, {"Session: Type=Normal End=[time]"}},
        {7, "", {"Session: Type=Normal End=[time]"}},
        {1, nullptr, {"Session: Type=Hang CallStack= End=[time]"}},
        // A folder that does not exist still splits the writes, and nothing is copied.
        {1, "no-such-folder", {"Session: Type=Hang", "Session: CallStack= End=[time]"}}};
    for (const auto& [reason, folder, groups] : rows)
    {
        SCOPED_TRACE(reason);
        service = std::make_unique<CZnCIPService_Static>();
        QThread::msleep(2); // each log is named after its millisecond
        service->StopSession(reason, folder ? path(folder).toUtf8().constData() : nullptr);
        EXPECT_EQ(readLog(service->LogFilePath()), QStringList{header()} + groups);
        EXPECT_TRUE(service->PendingLines().empty());
    }
    EXPECT_EQ(QDir(logFolder()).entryList(QDir::Files).size(), 4);
    ASSERT_TRUE(QDir(logFolder()).removeRecursively());
    service = std::make_unique<CZnCIPService_Static>();

    // The timer writes through the slot; with nothing pending no file is made.
    QTimer& timer = const_cast<QTimer&>(service->WriteTimer());
    ASSERT_TRUE(QMetaObject::invokeMethod(&timer, "timeout", Qt::DirectConnection));
    EXPECT_FALSE(QFileInfo::exists(logFolder()));
    EXPECT_TRUE(service->LogFilePath().isEmpty());

    SetZnCIP(nullptr);
    written("A");
    SetZnCIP(cip.get());
    GetZnSystemServices()->ClearProfile();
    service->writeLog();
    EXPECT_EQ(service->PendingLines().size(), 1u);
    EXPECT_FALSE(QFileInfo::exists(logFolder()));
    GetZnSystemServices()->SetProfile("Default", path("profiles/Default"));
    ASSERT_TRUE(QMetaObject::invokeMethod(&timer, "timeout", Qt::DirectConnection));
    const QString first = service->LogFilePath();
    EXPECT_EQ(readLog(first), QStringList({header(), "Commands: Execute=A"}));

    // A deleted log is replaced by a new one with its header: the host's product, USERNAME as Latin-1.
    ASSERT_TRUE(QFile::remove(first));
    QThread::msleep(2);
    GetZnResources()->SetProductName(CZnString("Drafting Studio"));
    qputenv("USER", "");
    qputenv("USERNAME", "Ren\xe9");
    const QStringList replaced = written("B");
    EXPECT_NE(service->LogFilePath(), first);
    EXPECT_EQ(replaced,
              QStringList({header("Drafting Studio", "Ren" + QString(QChar(0xE9))), "Commands: Execute=B"}));

    // A plain file where the log folder belongs: that write's lines are lost, and only those.
    service = std::make_unique<CZnCIPService_Static>();
    ASSERT_TRUE(QDir(logFolder()).removeRecursively());
    writeBytes(logFolder(), "");
    written("LOST");
    EXPECT_TRUE(service->PendingLines().empty());
    EXPECT_EQ(QFileInfo(logFolder()).size(), 0);
    ASSERT_TRUE(QFile::remove(logFolder()));
    EXPECT_EQ(written("KEPT").mid(1), QStringList{"Commands: Execute=KEPT"});
}
} // namespace
