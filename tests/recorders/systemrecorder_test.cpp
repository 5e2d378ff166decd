// The system recorder over facts set through the host's platform seam.
#include "czncipsystemrecorder.h"
#include "czngldriverinfo.h"
#include "cznhostconfiguration.h"
#include "cznplatform.h"
#include "cznsessionmanager.h"
#include "cznutils.h"
#include "recorderfixture.h"

#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QSysInfo>
#include <QThread>

#include <limits>

namespace
{
class SystemRecorder : public RecorderFixture<CZnCIPSystemRecorder>
{
protected:
    // The label of one "System" action after a main window was created.
    QString label(const QString& action)
    {
        journal.clear();
        znFireMainFrameCreated(nullptr);
        const QString prefix = QStringLiteral("SetEvent System|%1|").arg(action);
        for (const QString& call : journal)
            if (call.startsWith(prefix))
                return call.mid(prefix.size()).section(QLatin1Char('|'), 0, -2);
        return QStringLiteral("<none>");
    }
};

TEST_F(SystemRecorder, ReportsEveryFactInOrderThenStartsTheSession)
{
    CZnUtils::SetDpiFactor(1.5);
    CZnPlatform::SetWindowsVersion(0x00c0);
    CZnPlatform::SetProcessorArchitecture("AMD64");
    CZnPlatform::SetTotalPhysicalMemory(17179869183ull);
    CZnPlatform::SetScreens({QRect(0, 0, 1920, 1080), QRect(1920, 0, 2560, 1440), QRect(0, 1080, 800, 600)});
    CZnGLDriverInfo::setDriver(CZnString("Renderer X"), CZnString("ACME"), CZnString("4.5"));

    znFireMainFrameCreated(nullptr);

    QStringList expected;
    expected << event("System", "DPI", "150")
             << event("System", "Thread Count", QString::number(QThread::idealThreadCount()))
             << event("System", "Screen Count", "3") << event("System", "OS", "Windows 10 [AMD64]")
             << event("System", "Memory", "16383") << event("Screen", "Resolution", "1920 x 1080")
             << event("Screen", "Resolution", "2560 x 1440") << event("Screen", "Resolution", "800 x 600")
             << event("OpenGL", "Renderer CORE", "Renderer X") << event("OpenGL", "Version CORE", "ACME:4.5")
             << "StartSession";
    EXPECT_EQ(journal, expected);

    journal.clear();
    znFireMainFrameDestroyed(nullptr);
    EXPECT_EQ(journal, QStringList{"EndSession"});
}

TEST_F(SystemRecorder, ScalingIsTruncatedPercentAndMemoryWholeMebibytesAsSigned32Bits)
{
    const std::pair<double, const char*> scaling[] = {
        {1.0, "100"},         {1.25, "125"},  {1.5, "150"},
        {1.999, "199"},       {-0.015, "-1"}, {std::numeric_limits<double>::quiet_NaN(), "0"},
        {1e300, "2147483647"}};
    for (const auto& [factor, text] : scaling)
    {
        CZnUtils::SetDpiFactor(factor);
        EXPECT_EQ(label("DPI"), text) << factor;
    }
    const std::pair<quint64, const char*> memory[] = {{17179869184ull, "16384"},
                                                      {17179869183ull, "16383"},
                                                      {(1ull << 20) - 1, "0"},
                                                      {(1ull << 51), "-2147483648"}};
    for (const auto& [bytes, text] : memory)
    {
        CZnPlatform::SetTotalPhysicalMemory(bytes);
        EXPECT_EQ(label("Memory"), text) << bytes;
    }
    CZnPlatform::SetTotalPhysicalMemoryUnknown();
    EXPECT_EQ(label("Memory"), "unknown");
}

TEST_F(SystemRecorder, OperatingSystemFromTheWindowsTableOrTheSystemName)
{
    const std::pair<int, const char*> table[] = {{0x0020, "Windows 2000"},  {0x0030, "Windows XP"},
                                                 {0x0080, "Windows Vista"}, {0x0090, "Windows 7"},
                                                 {0x00a0, "Windows 8"},     {0x00b0, "Windows 8.1"},
                                                 {0x00c0, "Windows 10"},    {0x00f0, "Windows NT-based"}};
    for (const auto& row : table)
        EXPECT_EQ(CZnCIPSystemRecorder::WindowsVersionName(row.first).toQString(), row.second);
    for (int other : {0x0010, 0x0040, 0x0000, 0x00d0, -1})
        EXPECT_EQ(CZnCIPSystemRecorder::WindowsVersionName(other).toQString(), "Unknown Windows Version");

    CZnPlatform::SetWindowsVersion(0x0040);
    CZnPlatform::SetProcessorArchitecture("AMD64");
    EXPECT_EQ(label("OS"), "Unknown Windows Version [AMD64]");
    CZnPlatform::SetProcessorArchitecture("");
    EXPECT_EQ(label("OS"), "Unknown Windows Version");

    // This machine, as the host reads it when nothing is replaced.
    CZnPlatform::Reset();
    EXPECT_EQ(label("OS"), QSysInfo::prettyProductName() + " [" + QSysInfo::currentCpuArchitecture() + "]");
}

TEST_F(SystemRecorder, CompatibilityProfileStillAsksForProfileZero)
{
    CZnGLDriverInfo::setCoreProfile(false);
    CZnGLDriverInfo::setDriver(CZnString("Soft"), CZnString("Mesa"), CZnString("3.1"));
    znFireMainFrameCreated(nullptr);
    const int at = journal.indexOf("SetEvent OpenGL|Renderer COMPATIBILITY|Soft|1");
    ASSERT_GE(at, 0) << journal.join('\n').toStdString();
    EXPECT_EQ(journal.mid(at), event("OpenGL", "Renderer COMPATIBILITY", "Soft") +
                                   event("OpenGL", "Version COMPATIBILITY", "Mesa:3.1") +
                                   QStringList{"StartSession"});
}

TEST_F(SystemRecorder, ScreensComeFromTheDesktopWhenThereIsOne)
{
    // Nothing replaced: the application's own (offscreen) screens.
    znFireMainFrameCreated(nullptr);
    const QList<QScreen*> screens = QGuiApplication::screens();
    ASSERT_FALSE(screens.isEmpty());
    EXPECT_TRUE(journal.contains(QStringLiteral("SetEvent System|Screen Count|%1|1").arg(screens.size())));
    EXPECT_EQ(journal.filter("|Resolution|").size(), screens.size());
    const QRect first = screens.first()->geometry();
    EXPECT_TRUE(journal.contains(
        QStringLiteral("SetEvent Screen|Resolution|%1 x %2|1").arg(first.width()).arg(first.height())));

    // Without a desktop the screen events are left out and the rest still goes.
    CZnPlatform::SetNoDesktop();
    journal.clear();
    znFireMainFrameCreated(nullptr);
    EXPECT_TRUE(journal.filter("Screen").isEmpty());
    EXPECT_EQ(journal.filter("SetEvent").size(), 6);
    EXPECT_EQ(journal.last(), "StartSession");
}

TEST_F(SystemRecorder, WithoutServiceNoFactsAndNoSessionReachAnyService)
{
    withdrawService();
    znFireMainFrameCreated(nullptr);
    znFireMainFrameDestroyed(nullptr);
    m_cip->SetService(new RecordingService(&journal));
    SetZnCIP(nullptr);
    znFireMainFrameCreated(nullptr);
    znFireMainFrameDestroyed(nullptr);
    EXPECT_TRUE(journal.isEmpty());

    // Stopped: the editor no longer reaches the recorder.
    SetZnCIP(m_cip.get());
    recorder.Stop();
    znFireMainFrameCreated(nullptr);
    EXPECT_TRUE(journal.isEmpty());
}

TEST_F(SystemRecorder, HostConfigurationSetsEveryPlatformFact)
{
    const QString ini = path("host.ini");
    QFile file(ini);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[platform]\nwindows_version=0x00b0\narchitecture=ARM64\nmemory_bytes=8589934592\n"
               "screens=1920x1080, 1024x768\n[session]\nroot=sessions-here\n");
    file.close();
    QString message;
    EXPECT_TRUE(CZnHostConfiguration::Load(ini, &message)) << message.toStdString();
    EXPECT_EQ(GetZnSessionManager()->GetRoot(), path("sessions-here"));

    SetZnCIP(m_cip.get());
    znFireMainFrameCreated(nullptr);
    EXPECT_TRUE(journal.contains("SetEvent System|OS|Windows 8.1 [ARM64]|1"));
    EXPECT_TRUE(journal.contains("SetEvent System|Memory|8192|1"));
    EXPECT_EQ(journal.filter("|Resolution|"), QStringList({"SetEvent Screen|Resolution|1920 x 1080|1",
                                                           "SetEvent Screen|Resolution|1024 x 768|1"}));

    // Malformed values are named; those facts stay as the host found them.
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("[platform]\nwindows_version=ten\nmemory_bytes=lots\nscreens=1920 by 1080\nos_name=Plan 9\n"
               "architecture=\n");
    file.close();
    EXPECT_FALSE(CZnHostConfiguration::Load(ini, &message));
    for (const char* key : {"platform/windows_version", "platform/memory_bytes", "platform/screens"})
        EXPECT_TRUE(message.contains(key)) << message.toStdString();
    SetZnCIP(m_cip.get());
    EXPECT_EQ(label("OS"), "Plan 9");
    EXPECT_NE(label("Memory"), "unknown");
    EXPECT_EQ(journal.filter("|Resolution|").size(), QGuiApplication::screens().size());
}
} // namespace
