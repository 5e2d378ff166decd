// The session recorder's reporting pass over real session folders kept by the host.
#include "czncipsessionrecorder.h"
#include "cznsessionmanager.h"
#include "recorderfixture.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>

namespace
{
class SessionRecorder : public RecorderFixture<CZnCIPSessionRecorder>
{
protected:
    void SetUp() override
    {
        RecorderFixture::SetUp();
        ASSERT_TRUE(GetZnSessionManager()->StartSession(root()));
        current = znSession()->GetName();
    }
    void TearDown() override
    {
        GetZnSessionManager()->Reset();
        RecorderFixture::TearDown();
    }

    QString root() const { return path("sessions"); }
    QString reportedPath() const { return root() + "/reported_sessions.txt"; }
    void finished(const QString& kind, const QString& name, bool crashReport = false)
    {
        ASSERT_TRUE(QDir().mkpath(root() + "/" + kind + "/" + name));
        if (crashReport)
            writeFile(root() + "/" + kind + "/" + name + "/crashrpt.xml", "<CrashReport/>");
    }
    static void writeFile(const QString& file, const QByteArray& bytes)
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_EQ(f.write(bytes), bytes.size());
    }
    QByteArray reported() const
    {
        QFile f(reportedPath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    // One pass of a recorder that starts empty, as in a new run of the host.
    QStringList newRun()
    {
        journal.clear();
        CZnCIPSessionRecorder fresh;
        fresh.mainFrameCreated(nullptr);
        return journal;
    }
    static QStringList bad(const char* crash)
    {
        return event("Session", "Bad", crash) + event("Session", "Bad", "Bad") + global();
    }
    static QStringList good() { return event("Session", "Good", "Good") + global(); }
    static QStringList global() { return event("Session", "Global", "Global"); }

    QString current;
};

TEST_F(SessionRecorder, EachFinishedSessionIsReportedOnceByItsKind)
{
    finished("bad", "b1", true);
    EXPECT_EQ(newRun(), bad("With_Crash_Report"));
    finished("bad", "b2");
    EXPECT_EQ(newRun(), bad("Without_Crash_Report"));
    finished("good", "g1");
    EXPECT_EQ(newRun(), good());
    EXPECT_EQ(reported(), "b1\nb2\ng1\n");

    // Unchanged folders: nothing sent, the same names written again; a folder that moved keeps silent.
    ASSERT_TRUE(QDir().rename(root() + "/good/g1", root() + "/bad/g1"));
    EXPECT_TRUE(newRun().isEmpty());
    EXPECT_EQ(reported(), "b1\nb2\ng1\n");
}

TEST_F(SessionRecorder, BadBeforeGoodAndKnownNamesFirstInTheFile)
{
    writeFile(reportedPath(), "old\n");
    for (const char* name : {"g1", "g2"})
        finished("good", name);
    for (const char* name : {"b1", "b2", "old"})
        finished("bad", name);
    finished("bad", current);
    finished("good", current);

    znFireMainFrameCreated(nullptr);
    EXPECT_EQ(journal, bad("Without_Crash_Report") + bad("Without_Crash_Report") + good() + good());
    const QStringList lines = QString::fromUtf8(reported()).split('\n');
    ASSERT_EQ(lines.size(), 6) << reported().toStdString();
    EXPECT_EQ(lines[0], "old");
    EXPECT_EQ(QSet<QString>({lines[1], lines[2]}), QSet<QString>({"b1", "b2"}));
    EXPECT_EQ(QSet<QString>({lines[3], lines[4]}), QSet<QString>({"g1", "g2"}));
    EXPECT_EQ(recorder.ReportedSessions(), lines.mid(0, 5));
}

TEST_F(SessionRecorder, TheFileIsReadTrimmedWithoutEmptyLinesAndRewrittenSo)
{
    writeFile(reportedPath(), "  a  \n\n\t b\r\n \n");
    for (const char* name : {"a", "b", "c"})
        finished("good", name);
    EXPECT_EQ(newRun(), good());
    EXPECT_EQ(reported(), "a\nb\nc\n");
}

TEST_F(SessionRecorder, OnlyVisibleFoldersAreSessionsWhateverTheirName)
{
    finished("bad", ".hidden");
    const QString names[] = {"with blank", QString::fromUtf8("sessão-日本"), " padded "};
    for (const QString& name : names)
        finished("good", name);
    writeFile(root() + "/good/notes.txt", "not a session");

    EXPECT_EQ(newRun(), good() + good() + good());
    QStringList written = QString::fromUtf8(reported()).split('\n', Qt::SkipEmptyParts);
    written.sort();
    QStringList expected(std::begin(names), std::end(names));
    expected.sort();
    EXPECT_EQ(written, expected);

    // The file keeps names trimmed, so a name with surrounding blanks is never recognised again.
    EXPECT_EQ(newRun(), good());
}

TEST_F(SessionRecorder, NothingIsReadOrWrittenWithoutServiceOrSession)
{
    finished("good", "g1");
    const QByteArray kept = "  kept as it is  \n\n";
    writeFile(reportedPath(), kept);

    withdrawService();
    znFireMainFrameCreated(nullptr);
    m_cip->SetService(new RecordingService(&journal));
    SetZnCIP(nullptr);
    znFireMainFrameCreated(nullptr);
    SetZnCIP(m_cip.get());
    GetZnSessionManager()->Reset();
    znFireMainFrameCreated(nullptr);

    EXPECT_TRUE(journal.isEmpty());
    EXPECT_EQ(reported(), kept);
    EXPECT_TRUE(recorder.ReportedSessions().isEmpty());
}

TEST_F(SessionRecorder, AnUnusableFileStillReportsAndReportsAgainNextRun)
{
    finished("good", "g1");
    // A folder where the file should be: it can be neither read nor replaced.
    ASSERT_TRUE(QDir().mkpath(reportedPath()));
    EXPECT_EQ(newRun(), good());
    EXPECT_TRUE(QFileInfo(reportedPath()).isDir());
    EXPECT_EQ(newRun(), good());
}

TEST_F(SessionRecorder, BinaryAndHugeFilesKeepEveryNameTheyHold)
{
    QByteArray noise(4096, '\0');
    for (char& c : noise)
        c = static_cast<char>(QRandomGenerator::global()->bounded(256));
    writeFile(reportedPath(), noise + "\nknown1\n");
    finished("good", "known1");
    finished("good", "new1");
    EXPECT_EQ(newRun(), good());
    EXPECT_TRUE(reported().endsWith("\nknown1\nnew1\n"));

    // 100 MB without a line end, then two names: the long line can name no folder and is dropped.
    {
        QFile f(reportedPath());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_TRUE(f.resize(100 * 1024 * 1024));
        ASSERT_TRUE(f.seek(f.size()));
        f.write("\nknown1\nnew1\n");
    }
    finished("bad", "new2");
    EXPECT_EQ(newRun(), bad("Without_Crash_Report"));
    EXPECT_EQ(reported(), "known1\nnew1\nnew2\n");

    // The longest name a file system allows is still a name.
    const QString longest(255, QLatin1Char('n'));
    writeFile(reportedPath(), reported() + longest.toUtf8() + "\n");
    finished("good", longest);
    EXPECT_TRUE(newRun().isEmpty());
}

TEST_F(SessionRecorder, AMissingSessionsRootReportsNothingAndCreatesNothing)
{
    finished("good", "g1");
    ASSERT_TRUE(QDir(root()).removeRecursively());
    EXPECT_TRUE(newRun().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(root()));
}
} // namespace
