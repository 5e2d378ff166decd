// The recorders of the running configuration (commands, system facts, finished sessions) driven through
// the host's own events, and the silence of every recorder when it has nobody to report to.
#include "czncipbuildrecorder.h"
#include "czncipcommandsrecorder.h"
#include "czncipdrawingrecorder.h"
#include "czncipimpl.h"
#include "czncipperformancerecorder.h"
#include "czncipsessionrecorder.h"
#include "czncipsystemrecorder.h"
#include "czncipvariablerecorderimpl.h"
#include "czneditorreactor.h"
#include "czngldriverinfo.h"
#include "cznplatform.h"
#include "cznsessionmanager.h"
#include "cznsystemservices.h"
#include "cznutils.h"
#include "odeditor.h"
#include "recording.h"

#include <QDir>
#include <QRegularExpression>
#include <QThread>

#include <cmath>
#include <type_traits>
#include <typeinfo>

namespace
{
// One event as the recording journal shows it once joined with its Send.
const auto ev = [](const QString& categoryActionLabel) { return "SetEvent " + categoryActionLabel + "|1"; };

class Recorders : public RecordingFixture
{
protected:
    void SetUp() override
    {
        RecordingFixture::SetUp();
        ASSERT_TRUE(GetZnSessionManager()->StartSession(root()));
    }
    static void command(const char16_t* global, const char16_t* group)
    {
        OdStaticRxObject<OdEdCommand> command{OdString(global), OdString(group)};
        odedEditor()->fireCommandWillStart(&command, nullptr);
    }

    QString root() const { return path("sessions"); }
    QString reportedPath() const { return root() + "/reported_sessions.txt"; }
    void finished(const QString& kind, const QStringList& names, bool crashReport = false)
    {
        for (const QString& name : names)
            ASSERT_TRUE(QDir().mkpath(root() + "/" + kind + "/" + name));
        if (crashReport)
            writeBytes(root() + "/" + kind + "/" + names[0] + "/crashrpt.xml", "<CrashReport/>");
    }
    QStringList created()
    {
        journal.clear();
        znFireMainFrameCreated(nullptr);
        return journal;
    }
    QByteArray reported() const { return readBytes(reportedPath()); }
    // One reporting pass of a session recorder that starts empty, as in a new run of the host.
    QStringList newRun()
    {
        journal.clear();
        CZnCIPSessionRecorder fresh;
        fresh.mainFrameCreated(nullptr);
        return journal;
    }
    static QStringList bad(const QString& crash = "Without_Crash_Report")
    {
        return {ev("Session|Bad|" + crash), ev("Session|Bad|Bad"), ev("Session|Global|Global")};
    }
    static QStringList good() { return {ev("Session|Good|Good"), ev("Session|Global|Global")}; }
    // Stopped, or without service or CIP object, no recorder calls a service or touches a file.
    template <class... Kinds> void silent() { (silentOne<Kinds>(), ...); }
    template <class Kind> void silentOne()
    {
        const QByteArray kept = "  kept as it is  \n\n";
        enum
        {
            nothing,
            started,
            service,
            cipObject
        }; // what is withheld
        for (int withheld : {nothing, started, service, cipObject})
        {
            SCOPED_TRACE(testing::Message() << typeid(Kind).name() << " withheld " << withheld);
            writeBytes(reportedPath(), kept);
            journal.clear();
            {
                Kind recorder;
                recorder.Start();
                if constexpr (std::is_same_v<Kind, CZnCIPVariableRecorderImpl>)
                    recorder.AddVariable(CZnString("GRIDMODE"));
                if (withheld == started)
                    recorder.Stop(), journal.clear(); // a stop may report what was watched until then
                cip->SetService(withheld == service ? nullptr : recording);
                SetZnCIP(withheld == cipObject ? nullptr : cip.get());
                command(u"LINE", u"G");
                EXPECT_TRUE(odedEditor()->fireUnknownCommand(OdString(u"XYZ"), nullptr).isNull());
                znFireMainFrameCreated(nullptr);
                CZnDocumentManager* documents = GetZnSystemServices()->GetDocumentManager();
                documents->CloseDocument(documents->OpenDocument(CZnString("/drawings/plan.dwg")));
                CZnSystemVariables::SetInt(CZnString("GRIDMODE"), withheld + 2);
                znFireMainFrameDestroyed(nullptr);
                if (withheld != started)
                    recorder.Stop();
            }
            EXPECT_EQ(journal.isEmpty(), withheld != nothing);
            EXPECT_EQ(reported(), withheld == nothing ? reported() : kept);
        }
    }
};

TEST_F(Recorders, EveryCommandStartIsOneEventAndUnknownNamesGetNoCommandBack)
{
    Running<CZnCIPCommandsRecorder> running;
    command(u"LINE", u"GROUPA");
    command(u"LINE", u"GROUPA");
    command(u"CIRCLE", u"");
    command(u"Länge 100%", u"ÜBER");
    odedEditor()->fireCommandWillStart(nullptr, nullptr); // a host announcing no command at all
    QStringList expected;
    for (const char* label : {"LINE (GROUPA)", "LINE (GROUPA)", "CIRCLE ()", "Länge 100% (ÜBER)"})
        expected << ev(QString::fromUtf8("Commands|Execute|") + label);
    // A command handed back would take over the host's dispatch of the unknown name.
    for (const char16_t* name : {u"XYZ", u"  line ", u"", u"命令"})
    {
        EXPECT_TRUE(odedEditor()->fireUnknownCommand(OdString(name), nullptr).isNull());
        expected << ev("Unknown Commands|Execute|" + QString::fromUtf16(name));
    }
    EXPECT_EQ(journal, expected);
}

TEST_F(Recorders, SystemFactsGoInOrderBeforeTheSessionStartsAndStayReadableWhateverTheHostSays)
{
    Running<CZnCIPSystemRecorder> running;
    CZnUtils::SetDpiFactor(1.5);
    CZnPlatform::SetWindowsVersion(0x00c0);
    CZnPlatform::SetProcessorArchitecture("AMD64");
    CZnPlatform::SetTotalPhysicalMemory(17179869183ull);
    CZnPlatform::SetScreens({QRect(0, 0, 1920, 1080), QRect(1920, 0, 2560, 1440), QRect(0, 1080, 800, 600)});
    CZnGLDriverInfo::setDriver(CZnString("Renderer X"), CZnString("ACME"), CZnString("4.5"));
    // Either driver profile; then without a desktop the screens are left out and the rest still goes.
    for (const QString pass : {"CORE", "COMPATIBILITY", "COMPATIBILITY without desktop"})
    {
        const QString profile = pass.section(' ', 0, 0);
        CZnGLDriverInfo::setCoreProfile(profile == "CORE");
        if (pass != profile)
            CZnPlatform::SetNoDesktop();
        const QStringList facts(
            {ev("System|DPI|150"), ev("System|Thread Count|%1").arg(QThread::idealThreadCount()),
             ev("System|Screen Count|3"), ev("System|OS|Windows 10 [AMD64]"), ev("System|Memory|16383"),
             ev("Screen|Resolution|1920 x 1080"), ev("Screen|Resolution|2560 x 1440"),
             ev("Screen|Resolution|800 x 600"), ev("OpenGL|Renderer " + profile + "|Renderer X"),
             ev("OpenGL|Version " + profile + "|ACME:4.5"), "StartSession"});
        EXPECT_EQ(created(), pass == profile ? facts : facts.filter(QRegularExpression("^(?!.*Screen)")));
    }
    journal.clear();
    znFireMainFrameDestroyed(nullptr);
    EXPECT_EQ(journal, QStringList{"EndSession"});

    // Scaling, memory and system name stay readable whatever the host says.
    const auto fact = [this](const QString& action)
    { return created().filter("System|" + action + "|").join(';').section('|', 2, 2); };
    // Truncated percent: a NaN or huge factor must not reach an undefined float-to-int conversion.
    const std::pair<double, const char*> scaling[] = {{1.0, "100"},        {1.25, "125"},
                                                      {1.999, "199"},      {-0.015, "-1"},
                                                      {std::nan(""), "0"}, {1e300, "2147483647"}};
    for (const auto& [factor, text] : scaling)
    {
        CZnUtils::SetDpiFactor(factor);
        EXPECT_EQ(fact("DPI"), text) << factor;
    }
    // Whole mebibytes as a signed 32-bit number.
    const std::pair<quint64, const char*> memory[] = {
        {17179869184ull, "16384"}, {(1ull << 20) - 1, "0"}, {1ull << 51, "-2147483648"}};
    for (const auto& [bytes, text] : memory)
    {
        CZnPlatform::SetTotalPhysicalMemory(bytes);
        EXPECT_EQ(fact("Memory"), text) << bytes;
    }
    CZnPlatform::SetTotalPhysicalMemoryUnknown();
    EXPECT_EQ(fact("Memory"), "unknown");
    CZnPlatform::SetWindowsVersion(0x0040);
    CZnPlatform::SetProcessorArchitecture("AMD64");
    EXPECT_EQ(fact("OS"), "Unknown Windows Version [AMD64]");
    CZnPlatform::SetProcessorArchitecture("");
    EXPECT_EQ(fact("OS"), "Unknown Windows Version");
}

TEST_F(Recorders, EachFinishedSessionInAVisibleFolderIsReportedOnceByItsKind)
{
    finished("bad", {"b1"}, true);
    EXPECT_EQ(newRun(), bad("With_Crash_Report"));
    finished("bad", {"b2"});
    finished("good", {"g1"});
    EXPECT_EQ(newRun(), bad() + good());
    EXPECT_EQ(reported(), "b1\nb2\ng1\n");

    // Unchanged folders: nothing sent, the same names written again; a folder that moved keeps silent.
    ASSERT_TRUE(QDir().rename(root() + "/good/g1", root() + "/bad/g1"));
    EXPECT_TRUE(newRun().isEmpty());
    EXPECT_EQ(reported(), "b1\nb2\ng1\n");

    // Only visible folders are sessions, whatever their name.
    finished("bad", {".hidden"});
    QStringList names{"with blank", QString::fromUtf8("sessão-日本"), " padded "};
    finished("good", names);
    writeBytes(root() + "/good/notes.txt", "not a session");
    EXPECT_EQ(newRun(), good() + good() + good());
    names << QStringList{"b1", "b2", "g1"};
    const QStringList written = QString::fromUtf8(reported()).split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(QSet<QString>(written.begin(), written.end()), QSet<QString>(names.begin(), names.end()));
    EXPECT_EQ(written.size(), names.size());
    // The file keeps names trimmed, so a name with surrounding blanks is never recognised again.
    EXPECT_EQ(newRun(), good());
}

TEST_F(Recorders, BadSessionsBeforeGoodTheCurrentNeverAndKnownNamesFirstInTheFile)
{
    writeBytes(reportedPath(), "old\n");
    finished("good", {"g1", "g2"});
    finished("bad", {"b1", "b2", "old"});
    finished("bad", {znSession()->GetName()});
    finished("good", {znSession()->GetName()});

    Running<CZnCIPSessionRecorder> running;
    znFireMainFrameCreated(nullptr);
    EXPECT_EQ(journal, bad() + bad() + good() + good());
    const QStringList lines = QString::fromUtf8(reported()).split('\n');
    ASSERT_EQ(lines.size(), 6) << reported().toStdString();
    EXPECT_EQ(lines[0], "old");
    EXPECT_EQ(QSet<QString>({lines[1], lines[2]}), QSet<QString>({"b1", "b2"}));
    EXPECT_EQ(QSet<QString>({lines[3], lines[4]}), QSet<QString>({"g1", "g2"}));
    EXPECT_EQ(running.recorder.ReportedSessions(), lines.mid(0, 5));
}

TEST_F(Recorders, DamagedOrUnusableReportedFilesLoseNoNameAndCreateNothing)
{
    // Read trimmed, without empty lines, and written back so.
    writeBytes(reportedPath(), "  a  \n\n\t b\r\n \n");
    finished("good", {"a", "b", "c"});
    EXPECT_EQ(newRun(), good());
    EXPECT_EQ(reported(), "a\nb\nc\n");

    // An over-long line of binary bytes names no folder: it is passed over and not written back.
    QByteArray line(8 * 1024, '\0');
    for (int i = 0; i < line.size(); ++i)
        line[i] = char(i * 7 % 256 == '\n' ? 'x' : i * 7 % 256); // every byte value but the line end
    writeBytes(reportedPath(), line + "\na\nb\nc\n");
    finished("bad", {"d"});
    EXPECT_EQ(newRun(), bad());
    EXPECT_EQ(reported(), "a\nb\nc\nd\n");

    // The longest name a file system allows is still a name.
    const QString longest(255, QLatin1Char('n'));
    writeBytes(reportedPath(), reported() + longest.toUtf8() + "\n");
    finished("good", {longest});
    EXPECT_TRUE(newRun().isEmpty());

    // A folder where the file belongs can be neither read nor replaced: report, and again next run.
    ASSERT_TRUE(QFile::remove(reportedPath()) && QDir().mkpath(reportedPath()));
    const QStringList all = bad() + good() + good() + good() + good();
    EXPECT_EQ(newRun(), all);
    EXPECT_EQ(newRun(), all);
    EXPECT_TRUE(QFileInfo(reportedPath()).isDir());

    // Without a sessions root nothing is reported and no folder is made.
    ASSERT_TRUE(QDir(root()).removeRecursively());
    EXPECT_TRUE(newRun().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(root()));
}

TEST_F(Recorders, NoRecorderReportsWhenStoppedOrWithoutServiceOrCipObject)
{
    finished("good", {"g1"});
    CZnIncrementalTimerManager::getTimer(CZnString("Regen"))->addVisit(1.0);
    CZnSystemVariables::SetInt(CZnString("GRIDMODE"), 1);
    silent<CZnCIPCommandsRecorder, CZnCIPSystemRecorder, CZnCIPSessionRecorder, CZnCIPDrawingRecorder,
           CZnCIPPerformanceRecorder, CZnCIPBuildRecorder, CZnCIPVariableRecorderImpl>();
}
} // namespace
