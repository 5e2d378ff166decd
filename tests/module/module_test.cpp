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
#include "czntestutils.h"
#include "cznutils.h"
#include "odeditor.h"
#include "profilesettings.h"
#include "recording.h"

namespace
{
// Counts the queued slot calls delivered to an object, which is how a zero-delay single shot arrives.
struct QueuedCallCounter : QObject
{
    bool eventFilter(QObject*, QEvent* event) override
    {
        count += event->type() == QEvent::MetaCall;
        return false;
    }
    int count = 0;
};

// The module object as the SDK wraps it, on the stack; deleteModule is not called.
struct ModuleObject : OdRxWin32Module<CZnCIPModule>
{
    ModuleObject() : OdRxWin32Module<CZnCIPModule>(nullptr, &m_slot) {}
    OdRxModule* m_slot = nullptr;
};

class CipCore : public HostFixture
{
protected:
    QString take() { return std::exchange(journal, {}).join(','); } // the recorders' calls since the last
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
}

TEST_F(CipCore, SessionCallsReachTheServiceOfTheMoment)
{
    CZnCIPImpl cip;
    delete cip.GetService();
    QStringList calls;
    cip.SetService(new RecordingService(&calls));
    // Without a service the calls go nowhere and the last identifier stays.
    for (int withService = 1; withService >= 0; --withService)
    {
        cip.StartSession();
        cip.StopSession(2, "/tmp/crash");
        cip.StopSession(0, nullptr);
        cip.EndSession();
        EXPECT_EQ(calls.join(' '), "StartSession StopSession 2|/tmp/crash StopSession 0|null EndSession");
        EXPECT_EQ(cip.GetClientId().toQString(), QStringLiteral("recording-client"));
        delete cip.GetService();
        cip.SetService(nullptr);
    }
}

TEST_F(CipCore, JoinQuestionIsScheduledOncePerMainWindowAfterADocument)
{
    GetZnSystemServices()->SetCanAskUser(false); // the question itself is the consent tests' business
    CZnCIPImpl cip;
    QueuedCallCounter counter;
    cip.installEventFilter(&counter);
    // Counted when the event loop delivers the call: a question asked inside the notification is never.
    const auto asked = [&](quintptr document)
    {
        cip.DocumentCreated(reinterpret_cast<CZnDocument*>(document));
        processEvents();
        return counter.count;
    };
    EXPECT_EQ(asked(1), 0) << "before any main window";
    cip.mainFrameCreated(nullptr);
    EXPECT_EQ(asked(2), 1);
    EXPECT_EQ(asked(1), 1);
    cip.mainFrameCreated(nullptr);
    EXPECT_EQ(asked(2), 2);
}

TEST_F(CipCore, ModuleCreatesItsRecordersInOrderAndDestroysThemAtShutdown)
{
    setControl(1);
    ModuleObject module;
    module.initApp();
    const auto& recorders = module.cip().Recorders();
    const auto& reactors = odedEditor()->reactors();
    ASSERT_EQ(recorders.size(), 3u);
    ASSERT_EQ(reactors.size(), 4u);
    EXPECT_EQ(reactors[0], static_cast<OdRxEventReactor*>(
                               static_cast<OdStaticRxObject<CZnEditorReactor>*>(&module.cip())));
    const std::type_info* kinds[] = {&typeid(CZnCIPCommandsRecorder), &typeid(CZnCIPSystemRecorder),
                                     &typeid(CZnCIPSessionRecorder)};
    for (int i = 0; i < 3; ++i)
    {
        const CZnCIPRecorder& recorder = *recorders[i];
        const OdRxEventReactor& reactor = *reactors[i + 1];
        EXPECT_TRUE(typeid(recorder) == *kinds[i] && typeid(reactor) == *kinds[i]) << i;
    }

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
        using P = CZnPlatform;
        int windows = 0, n[4] = {};
        quint64 memory = 0;
        QStringList screens;
        for (int i = 0; i < P::ScreenCount(); ++i)
            screens << QStringLiteral("%1x%2")
                           .arg(P::ScreenGeometry(i).width())
                           .arg(P::ScreenGeometry(i).height());
        return QMap<QString, QString>{
            {"resources/company", GetZnResources()->GetCompanyName().toQString()},
            {"display/dpi_factor", QString::number(CZnUtils::dpiFactor())},
            {"host/gui_enabled", QString::number(CZnTestUtils::IsGUIEnabled())},
            {"version/numbers", GetZnSystemServices()->GetVersionNumbers(n[0], n[1], n[2], n[3])
                                    ? QStringLiteral("%1,%2,%3,%4").arg(n[0]).arg(n[1]).arg(n[2]).arg(n[3])
                                    : "none"},
            {"platform/windows_version", P::GetWindowsVersion(windows) ? QString::number(windows) : "none"},
            {"platform/os_name", P::OperatingSystemName()},
            {"platform/architecture", P::ProcessorArchitecture()},
            {"platform/memory_bytes",
             P::GetTotalPhysicalMemory(memory) ? QString::number(memory) : "unknown"},
            {"platform/screens", screens.join(',')},
            {"platform/dotnet_versions", P::DotNetFrameworkVersions().join(',')},
            {"platform/registry_file", CZnRegistry::GetFile().replace(path(), "~")},
            {"session/root", QString(GetZnSessionManager()->GetRoot()).replace(path(), "~")},
            {"opengl/vendor", CZnGLDriverInfo::glVendor(0).toQString()}};
    };
    // "section/key=value>applied", or without ">" a malformed value, named in the message.
    const auto check = [&](const QString& row)
    {
        SCOPED_TRACE(row.toStdString());
        const QString key = row.section('=', 0, 0), value = row.section('=', 1).section('>', 0, 0);
        const bool applied = row.contains('>');
        CZnHostConfiguration::ApplyDefaults();
        QMap<QString, QString> expected = facts();
        if (applied)
            expected[key] = row.section('>', 1);
        // Each value comes with a good one read after it, which applies whatever happened before.
        expected["opengl/vendor"] = "Elsewhere";
        QFile file(path("host.ini"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(QStringLiteral("[%1]\n%2=%3\n[opengl]\nvendor=Elsewhere\n")
                       .arg(key.section('/', 0, 0), key.section('/', 1), value)
                       .toUtf8());
        file.close();
        QString message;
        EXPECT_EQ(CZnHostConfiguration::Load(file.fileName(), &message), applied) << qPrintable(message);
        EXPECT_EQ(facts(), expected);
        EXPECT_EQ(message.contains(key), !applied) << qPrintable(message);
    };
    for (const char* row :
         {"resources/company=Acme Works>Acme Works", "display/dpi_factor=1.5>1.5", "display/dpi_factor=large",
          "host/gui_enabled=off>0", "host/gui_enabled=perhaps", "version/numbers=22, 0, 1, 1520>22,0,1,1520",
          "version/numbers=1,2", "version/numbers=>none", "platform/windows_version=0x00b0>176",
          "platform/windows_version=ten"})
        check(row);
    for (const char* row :
         {"platform/os_name=Plan 9>Plan 9", "platform/architecture=ARM64>ARM64", "platform/architecture=>",
          "platform/memory_bytes=lots", "platform/memory_bytes=8589934592>8589934592",
          "platform/screens=1920 by 1080", "platform/screens=1920x1080, 1024x768>1920x1080,1024x768",
          "platform/dotnet_versions=v2.0.50727, v4.0.30319>v2.0.50727,v4.0.30319",
          "platform/registry_file=registry.ini>~/registry.ini", "session/root=sessions-here>~/sessions-here"})
        check(row);

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
