// The host's session folders, with real processes that end cleanly, die, or crash with a report.
#include "cznsessionmanager.h"
#include "hostfixture.h"
#include "qtprinting.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>

namespace
{
class SessionManager : public HostFixture
{
protected:
    void TearDown() override
    {
        GetZnSessionManager()->Reset();
        HostFixture::TearDown();
    }
    QString root() const { return path("sessions"); }
    QStringList sessions(const char* kind) const
    {
        return QDir(root() + "/" + kind).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    }
    // Starts a host run in its own process and returns its session's name; waits for its end
    // unless the caller keeps the process.
    QString runChild(const char* mode, QProcess* keep = nullptr)
    {
        QProcess own;
        QProcess& child = keep ? *keep : own;
        child.start(QStringLiteral(ZNCIP_BIN_DIR "/zncip-session-child"), {root(), QString(mode)});
        EXPECT_TRUE(child.waitForReadyRead(10000)) << mode;
        const QString name = QString::fromLocal8Bit(child.readLine()).trimmed();
        EXPECT_TRUE(keep || child.waitForFinished(10000)) << mode;
        return name;
    }
};

TEST_F(SessionManager, ARunLivesUnderRunningAndIsFiledAsGoodAtACleanEnd)
{
    CZnSessionManager* manager = GetZnSessionManager();
    EXPECT_EQ(znSession(), nullptr);
    ASSERT_TRUE(manager->StartSession(root()));
    ASSERT_NE(znSession(), nullptr);
    const QString name = znSession()->GetName();
    EXPECT_TRUE(
        QRegularExpression(QStringLiteral("^\\d{8}-\\d{6}-%1$").arg(QCoreApplication::applicationPid()))
            .match(name)
            .hasMatch())
        << name.toStdString();
    const QString folder = znSession()->GetFolderPath().toQString();
    EXPECT_EQ(folder, QDir(root()).absoluteFilePath("running/" + name));
    EXPECT_TRUE(QFileInfo(folder).isDir());
    EXPECT_FALSE(manager->StartSession(root())) << "one session per run";

    ASSERT_TRUE(manager->EndSessionCleanly());
    EXPECT_EQ(znSession(), nullptr);
    EXPECT_EQ(sessions("good"), QStringList{name});
    EXPECT_TRUE(QDir(root() + "/running").isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
    EXPECT_FALSE(manager->EndSessionCleanly());
    EXPECT_FALSE(manager->WriteCrashReport());

    // A second run in the same second gets a name of its own.
    ASSERT_TRUE(manager->StartSession(root()));
    EXPECT_NE(znSession()->GetName(), name);
}

TEST_F(SessionManager, DeadRunsAreFiledAsBadByTheNextStartWithTheirCrashReport)
{
    // Each start files the runs before it that died.
    const QString crashed = runChild("crash");
    const QString died = runChild("die");
    EXPECT_EQ(sessions("bad"), QStringList{crashed});
    EXPECT_EQ(sessions("running"), QStringList{died});
    const QString clean = runChild("clean");
    QStringList dead{crashed, died};
    dead.sort();
    EXPECT_EQ(sessions("bad"), dead);
    EXPECT_EQ(sessions("good"), QStringList{clean});
    EXPECT_TRUE(sessions("running").isEmpty());

    EXPECT_FALSE(QFile::exists(root() + "/bad/" + died + "/crashrpt.xml"));
    QFile report(root() + "/bad/" + crashed + "/crashrpt.xml");
    ASSERT_TRUE(report.open(QIODevice::ReadOnly));
    EXPECT_TRUE(report.readAll().contains(("<Session>" + crashed + "</Session>").toUtf8()));
}

TEST_F(SessionManager, ALiveRunIsLeftAloneAndAFolderWithoutOwnerIsBad)
{
    QProcess holder;
    const QString held = runChild("hold", &holder);
    ASSERT_FALSE(held.isEmpty());
    ASSERT_TRUE(QDir().mkpath(root() + "/running/copied in"));

    ASSERT_TRUE(GetZnSessionManager()->StartSession(root()));
    EXPECT_EQ(sessions("bad"), QStringList{"copied in"});
    EXPECT_TRUE(sessions("running").contains(held));

    holder.write("end\n");
    ASSERT_TRUE(holder.waitForFinished(10000));
    EXPECT_EQ(holder.exitCode(), 0);
    EXPECT_EQ(sessions("good"), QStringList{held});
}

TEST_F(SessionManager, NoSessionWhereNoFolderCanBeMade)
{
    QFile blocker(root());
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    EXPECT_FALSE(GetZnSessionManager()->StartSession(root()));
    EXPECT_FALSE(GetZnSessionManager()->StartSession(QString()));
    EXPECT_EQ(znSession(), nullptr);
}
} // namespace
