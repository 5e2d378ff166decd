// The core object and the module object linked in process, and the host configuration they run under.
#include "czncipcommandsrecorder.h"
#include "czncipimpl.h"
#include "czncipmodule.h"
#include "czncipsessionrecorder.h"
#include "czncipsystemrecorder.h"
#include "czngldriverinfo.h"
#include "cznhostconfiguration.h"
#include "cznplatform.h"
#include "cznregistry.h"
#include "cznresources.h"
#include "cznsessionmanager.h"
#include "cznsystemservices.h"
#include "czntestutils.h"
#include "cznutils.h"
#include "hostfixture.h"
#include "odeditor.h"
#include "profilesettings.h"
#include "qtprinting.h"
#include "recording.h"

#include <QDir>
#include <QProcess>

#include <typeinfo>

namespace
{
// Counts the queued slot calls delivered to an object, which is how a zero-delay single shot arrives.
class QueuedCallCounter : public QObject
{
public:
    int count = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        count += event->type() == QEvent::MetaCall;
        return false;
    }
};

// The module object as the SDK wraps it, on the stack; deleteModule is not called.
class ModuleObject : public OdRxWin32Module<CZnCIPModule>
{
public:
    ModuleObject() : OdRxWin32Module<CZnCIPModule>(nullptr, &m_slot) {}

private:
    OdRxModule* m_slot = nullptr;
};

class CipCore : public HostFixture
{
protected:
    void SetUp() override
    {
        HostFixture::SetUp();
        // The join question must not block these tests; its own tests live with the dialog.
        GetZnSystemServices()->SetCanAskUser(false);
    }
    // What the recorders were told since the last look.
    QString take()
    {
        const QString told = journal.join(',');
        journal.clear();
        return told;
    }
    QStringList journal;
};

using HostConfiguration = HostFixture;
} // namespace

TEST_F(CipCore, RecorderListKeepsOrderAndFollowsParticipation)
{
    CZnCIPImpl cip;
    RecordingRecorder a(QStringLiteral("a"), &journal), b(QStringLiteral("b"), &journal);
    cip.AddRecorder(&a);
    cip.AddRecorder(&b);
    cip.RemoveRecorder(reinterpret_cast<CZnCIPRecorder*>(&journal)); // not listed: nothing
    EXPECT_EQ(take(), QStringLiteral(""));
    cip.SetEnabled(false);
    EXPECT_EQ(take(), QStringLiteral("a Stop,b Stop")) << "stops even while not running";
    cip.SetEnabled(true);
    cip.SetEnabled(true);
    cip.StartRecordersIfEnabled();
    EXPECT_EQ(take(), QStringLiteral("a Start,b Start"));
    // Adding a present recorder while running stops it, moves it to the end and starts it again.
    cip.AddRecorder(&a);
    EXPECT_EQ(take(), QStringLiteral("a Stop,a Start"));
    EXPECT_EQ(cip.Recorders(), (std::vector<CZnCIPRecorder*>{&b, &a}));
    cip.RemoveRecorder(&b);
    cip.SetEnabled(false);
    cip.RemoveRecorder(&a); // not running: removed without a Stop
    EXPECT_EQ(take(), QStringLiteral("b Stop,a Stop"));
    EXPECT_TRUE(cip.Recorders().empty());

    cip.AddRecorder(&a);
    GetZnSystemServices()->ClearProfile();
    cip.SetEnabled(true);
    EXPECT_EQ(take(), QStringLiteral("")) << "without a profile nothing starts";
    cip.RemoveRecorder(&a);
}

TEST_F(CipCore, SessionCallsReachTheServiceOfTheMoment)
{
    CZnCIPImpl cip;
    delete cip.GetService();
    QStringList calls;
    cip.SetService(new RecordingService(&calls));
    cip.StartSession();
    cip.StopSession(2, "/tmp/crash");
    cip.StopSession(0, nullptr);
    cip.EndSession();
    EXPECT_EQ(calls,
              (QStringList{"StartSession", "StopSession 2|/tmp/crash", "StopSession 0|null", "EndSession"}));
    EXPECT_EQ(cip.GetClientId().toQString(), QStringLiteral("recording-client"));

    // Without a service the calls go nowhere and the last identifier stays.
    delete cip.GetService();
    cip.SetService(nullptr);
    cip.StartSession();
    cip.StopSession(1, nullptr);
    cip.EndSession();
    EXPECT_EQ(calls.size(), 4);
    EXPECT_EQ(cip.GetClientId().toQString(), QStringLiteral("recording-client"));
}

TEST_F(CipCore, JoinQuestionIsScheduledOncePerMainWindowAfterADocument)
{
    CZnCIPImpl cip;
    QueuedCallCounter counter;
    cip.installEventFilter(&counter);
    auto* d1 = reinterpret_cast<CZnDocument*>(quintptr(1));
    auto* d2 = reinterpret_cast<CZnDocument*>(quintptr(2));

    cip.DocumentCreated(d1); // before any main window: nothing
    cip.mainFrameCreated(nullptr);
    processEvents();
    EXPECT_EQ(counter.count, 0) << "a main window alone does not ask";

    // The filter counts the call when the event loop delivers it: a question asked inside the
    // notification itself would never be counted.
    cip.DocumentCreated(d2);
    processEvents();
    EXPECT_EQ(counter.count, 1);
    cip.DocumentCreated(d1);
    processEvents();
    EXPECT_EQ(counter.count, 1);

    cip.mainFrameCreated(nullptr);
    cip.DocumentCreated(d2);
    processEvents();
    EXPECT_EQ(counter.count, 2);
}

TEST_F(CipCore, ModuleCreatesItsRecordersInOrderAndDestroysThemAtShutdown)
{
    setControl(1);
    ModuleObject module;
    module.initApp();
    // Registered with the editor in start order, after the core object's own reactor.
    const auto& recorders = module.cip().Recorders();
    const auto& reactors = odedEditor()->reactors();
    ASSERT_EQ(recorders.size(), 3u);
    ASSERT_EQ(reactors.size(), 4u);
    EXPECT_EQ(reactors[0], static_cast<OdRxEventReactor*>(
                               static_cast<OdStaticRxObject<CZnEditorReactor>*>(&module.cip())));
    const std::type_info* kinds[] = {&typeid(CZnCIPCommandsRecorder), &typeid(CZnCIPSystemRecorder),
                                     &typeid(CZnCIPSessionRecorder)};
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(typeid(*recorders[i]) == *kinds[i] && typeid(*reactors[i + 1]) == *kinds[i]) << i;

    // A recorder someone else added is stopped at shutdown, but stays theirs.
    RecordingRecorder foreign(QStringLiteral("foreign"), &journal);
    module.cip().AddRecorder(&foreign);
    module.uninitApp();
    EXPECT_EQ(module.cip().Recorders(), std::vector<CZnCIPRecorder*>{&foreign});
    EXPECT_EQ(journal, (QStringList{"foreign Start", "foreign Stop"}));
    EXPECT_FALSE(module.cip().IsRunning());
    EXPECT_TRUE(odedEditor()->reactors().empty());
    module.cip().RemoveRecorder(&foreign);
}

TEST_F(CipCore, AllocationFailureLeavesInitApp)
{
    setControl(1);
    ModuleObject module;
    odrxFailAllocationAfter(2); // the second recorder
    EXPECT_THROW(module.initApp(), std::bad_alloc);
    odrxFailAllocationAfter(0);
    EXPECT_EQ(module.cip().Recorders().size(), 1u);
    module.uninitApp(); // what was created is still taken down
    EXPECT_TRUE(module.cip().Recorders().empty());
    EXPECT_TRUE(odedEditor()->reactors().empty());
}

TEST_F(HostConfiguration, EachKeyIsAppliedOrNamedWithItsDefaultKept)
{
    // Every fact a key sets, by key; relative file names are taken from the configuration's folder.
    const auto facts = [this]
    {
        int windows = 0, n[4] = {};
        quint64 memory = 0;
        QStringList screens;
        for (int i = 0; i < CZnPlatform::ScreenCount(); ++i)
            screens << QStringLiteral("%1x%2")
                           .arg(CZnPlatform::ScreenGeometry(i).width())
                           .arg(CZnPlatform::ScreenGeometry(i).height());
        return QMap<QString, QString>{
            {"resources/company", GetZnResources()->GetCompanyName().toQString()},
            {"display/dpi_factor", QString::number(CZnUtils::dpiFactor())},
            {"host/gui_enabled", QString::number(CZnTestUtils::IsGUIEnabled())},
            {"version/numbers", GetZnSystemServices()->GetVersionNumbers(n[0], n[1], n[2], n[3])
                                    ? QStringLiteral("%1,%2,%3,%4").arg(n[0]).arg(n[1]).arg(n[2]).arg(n[3])
                                    : "none"},
            {"platform/windows_version",
             CZnPlatform::GetWindowsVersion(windows) ? QString::number(windows) : "none"},
            {"platform/os_name", CZnPlatform::OperatingSystemName()},
            {"platform/architecture", CZnPlatform::ProcessorArchitecture()},
            {"platform/memory_bytes",
             CZnPlatform::GetTotalPhysicalMemory(memory) ? QString::number(memory) : "unknown"},
            {"platform/screens", screens.join(',')},
            {"platform/dotnet_versions", CZnPlatform::DotNetFrameworkVersions().join(',')},
            {"platform/registry_file", CZnRegistry::GetFile().replace(path(), "~")},
            {"session/root", QString(GetZnSessionManager()->GetRoot()).replace(path(), "~")},
            {"opengl/vendor", CZnGLDriverInfo::glVendor(0).toQString()}};
    };
    const struct
    {
        const char *key, *value;
        const char* applied; // nullptr: malformed, named in the message
    } cases[] = {
        {"resources/company", "Acme Works", "Acme Works"},
        {"display/dpi_factor", "1.5", "1.5"},
        {"display/dpi_factor", "large", nullptr},
        {"host/gui_enabled", "off", "0"},
        {"host/gui_enabled", "perhaps", nullptr},
        {"version/numbers", "22, 0, 1, 1520", "22,0,1,1520"},
        {"version/numbers", "1,2", nullptr},
        {"version/numbers", "", "none"},
        {"platform/windows_version", "0x00b0", "176"},
        {"platform/windows_version", "ten", nullptr},
        {"platform/os_name", "Plan 9", "Plan 9"},
        {"platform/architecture", "ARM64", "ARM64"},
        {"platform/architecture", "", ""},
        {"platform/memory_bytes", "8589934592", "8589934592"},
        {"platform/memory_bytes", "lots", nullptr},
        {"platform/screens", "1920x1080, 1024x768", "1920x1080,1024x768"},
        {"platform/screens", "1920 by 1080", nullptr},
        {"platform/dotnet_versions", "v2.0.50727, v4.0.30319", "v2.0.50727,v4.0.30319"},
        {"platform/registry_file", "registry.ini", "~/registry.ini"},
        {"session/root", "sessions-here", "~/sessions-here"},
    };
    for (const auto& c : cases)
    {
        const QString key = QString::fromLatin1(c.key);
        SCOPED_TRACE(key.toStdString() + '=' + c.value);
        CZnHostConfiguration::ApplyDefaults();
        QMap<QString, QString> expected = facts();
        if (c.applied)
            expected[key] = QString::fromUtf8(c.applied);
        // Each value comes with a good one read after it, which applies whatever happened before.
        expected["opengl/vendor"] = "Elsewhere";
        QFile file(path("host.ini"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(QStringLiteral("[%1]\n%2=%3\n[opengl]\nvendor=Elsewhere\n")
                       .arg(key.section('/', 0, 0), key.section('/', 1), c.value)
                       .toUtf8());
        file.close();
        QString message;
        EXPECT_EQ(CZnHostConfiguration::Load(file.fileName(), &message), c.applied != nullptr)
            << qPrintable(message);
        EXPECT_EQ(facts(), expected);
        EXPECT_EQ(message.contains(key), !c.applied) << qPrintable(message);
    }

    // A missing or unreadable file: said so, and the host runs on its defaults with its profile.
    QDir().mkpath(path("folder.ini"));
    for (const char* name : {"absent.ini", "folder.ini"})
    {
        QString message;
        EXPECT_FALSE(CZnHostConfiguration::Load(path(name), &message));
        EXPECT_TRUE(message.contains(name) && message.endsWith("; using the defaults"))
            << qPrintable(message);
        EXPECT_EQ(GetZnResources()->GetCompanyName().toQString(), QStringLiteral("Zinc Design Systems"));
        EXPECT_NE(GetZnSystemServices()->GetProfile(), nullptr);
    }
}

TEST_F(HostConfiguration, TheHostProgramNamesWhatItCannotUseAndRuns)
{
    QFile bad(path("bad.ini")), script(path("quit.script"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly) && script.open(QIODevice::WriteOnly));
    bad.write("[display]\ndpi_factor=large\n[host]\ngui_enabled=perhaps\n\x01\x02 not ini at all\n");
    script.write("type LINE\nquit\n");
    bad.close();
    script.close();
    // The program inherits this process's user folders, which are a temporary folder of their own.
    QProcess host;
    host.start(ZNCIP_BIN_DIR "/zncip-host", {"--config", bad.fileName(), "--script", script.fileName()});
    ASSERT_TRUE(host.waitForFinished(60000));
    const QString errors = QString::fromLocal8Bit(host.readAllStandardError());
    EXPECT_TRUE(host.exitStatus() == QProcess::NormalExit && host.exitCode() == 0) << qPrintable(errors);
    EXPECT_TRUE(errors.contains("malformed host/gui_enabled, display/dpi_factor")) << qPrintable(errors);
}
