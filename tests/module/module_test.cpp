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
#include "recordingrecorder.h"
#include "recordingservice.h"

#include <QDir>
#include <QProcess>

#include <functional>
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
    // What the recorders were told while the action ran.
    QString during(const std::function<void()>& action)
    {
        journal.clear();
        action();
        return journal.join(',');
    }
    QStringList journal;
};

using HostConfiguration = HostFixture;
} // namespace

TEST_F(CipCore, RecorderListKeepsOrderAndFollowsParticipation)
{
    CZnCIPImpl cip;
    RecordingRecorder a(QStringLiteral("a"), &journal), b(QStringLiteral("b"), &journal);
    EXPECT_EQ(during(
                  [&]
                  {
                      cip.AddRecorder(&a);
                      cip.AddRecorder(&b);
                      cip.RemoveRecorder(reinterpret_cast<CZnCIPRecorder*>(&journal)); // not listed
                  }),
              "");
    EXPECT_EQ(during([&] { cip.SetEnabled(false); }), "a Stop,b Stop") << "stops even while not running";
    EXPECT_EQ(during(
                  [&]
                  {
                      cip.SetEnabled(true);
                      cip.SetEnabled(true);
                      cip.StartRecordersIfEnabled();
                  }),
              "a Start,b Start");
    // Adding a present recorder while running stops it, moves it to the end and starts it again.
    EXPECT_EQ(during([&] { cip.AddRecorder(&a); }), "a Stop,a Start");
    EXPECT_EQ(cip.Recorders(), (std::vector<CZnCIPRecorder*>{&b, &a}));
    EXPECT_EQ(during([&] { cip.RemoveRecorder(&b); }), "b Stop");
    EXPECT_EQ(during([&] { cip.SetEnabled(false); }), "a Stop");
    EXPECT_FALSE(cip.IsRunning());
    EXPECT_EQ(during([&] { cip.RemoveRecorder(&a); }), "") << "not running: removed without a Stop";
    EXPECT_TRUE(cip.Recorders().empty());

    cip.AddRecorder(&a);
    GetZnSystemServices()->ClearProfile();
    EXPECT_EQ(during([&] { cip.SetEnabled(true); }), "") << "without a profile nothing starts";
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
    CZnCIPService* service = cip.GetService();
    cip.SetService(nullptr);
    delete service;
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
    const auto& recorders = module.cip().Recorders();
    ASSERT_EQ(recorders.size(), 3u);
    EXPECT_EQ(typeid(*recorders[0]), typeid(CZnCIPCommandsRecorder));
    EXPECT_EQ(typeid(*recorders[1]), typeid(CZnCIPSystemRecorder));
    EXPECT_EQ(typeid(*recorders[2]), typeid(CZnCIPSessionRecorder));

    // Registered with the editor in start order, after the core object's own reactor.
    const auto& reactors = odedEditor()->reactors();
    ASSERT_EQ(reactors.size(), 4u);
    EXPECT_EQ(reactors[0], static_cast<OdRxEventReactor*>(
                               static_cast<OdStaticRxObject<CZnEditorReactor>*>(&module.cip())));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(typeid(*reactors[i + 1]), typeid(*recorders[i])) << i;

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
    using Fact = std::function<QString()>;
    const Fact company = [] { return GetZnResources()->GetCompanyName().toQString(); };
    const Fact dpi = [] { return QString::number(CZnUtils::dpiFactor()); };
    const Fact gui = [] { return QString::number(CZnTestUtils::IsGUIEnabled()); };
    const Fact numbers = []
    {
        int n[4] = {};
        return GetZnSystemServices()->GetVersionNumbers(n[0], n[1], n[2], n[3])
                   ? QStringLiteral("%1.%2.%3.%4").arg(n[0]).arg(n[1]).arg(n[2]).arg(n[3])
                   : QStringLiteral("none");
    };
    const Fact windows = []
    {
        int v = 0;
        return CZnPlatform::GetWindowsVersion(v) ? QString::number(v) : QStringLiteral("not Windows");
    };
    const Fact os = [] { return CZnPlatform::OperatingSystemName(); };
    const Fact architecture = [] { return CZnPlatform::ProcessorArchitecture(); };
    const Fact memory = []
    {
        quint64 bytes = 0;
        return CZnPlatform::GetTotalPhysicalMemory(bytes) ? QString::number(bytes)
                                                          : QStringLiteral("unknown");
    };
    const Fact screens = []
    {
        QStringList sizes;
        for (int i = 0; i < CZnPlatform::ScreenCount(); ++i)
            sizes << QStringLiteral("%1x%2")
                         .arg(CZnPlatform::ScreenGeometry(i).width())
                         .arg(CZnPlatform::ScreenGeometry(i).height());
        return CZnPlatform::HasDesktop() ? sizes.join(',') : QStringLiteral("no desktop");
    };
    // Relative file names are taken from the configuration's folder.
    const Fact registry = [this] { return CZnRegistry::GetFile().replace(path(), "~"); };
    const Fact sessions = [this] { return QString(GetZnSessionManager()->GetRoot()).replace(path(), "~"); };
    const struct
    {
        const char *key, *value;
        const Fact& fact;
        const char* applied; // nullptr: malformed, named in the message
    } cases[] = {
        {"resources/company", "Acme Works", company, "Acme Works"},
        {"display/dpi_factor", "1.5", dpi, "1.5"},
        {"display/dpi_factor", "large", dpi, nullptr},
        {"host/gui_enabled", "off", gui, "0"},
        {"host/gui_enabled", "perhaps", gui, nullptr},
        {"version/numbers", "22, 0, 1, 1520", numbers, "22.0.1.1520"},
        {"version/numbers", "1,2", numbers, nullptr},
        {"version/numbers", "", numbers, "none"},
        {"platform/windows_version", "0x00b0", windows, "176"},
        {"platform/windows_version", "ten", windows, nullptr},
        {"platform/os_name", "Plan 9", os, "Plan 9"},
        {"platform/architecture", "ARM64", architecture, "ARM64"},
        {"platform/memory_bytes", "8589934592", memory, "8589934592"},
        {"platform/memory_bytes", "lots", memory, nullptr},
        {"platform/screens", "1920x1080, 1024x768", screens, "1920x1080,1024x768"},
        {"platform/screens", "1920 by 1080", screens, nullptr},
        {"platform/registry_file", "registry.ini", registry, "~/registry.ini"},
        {"session/root", "sessions-here", sessions, "~/sessions-here"},
    };
    const QString ini = path("host.ini");
    for (const auto& c : cases)
    {
        const QString key = QString::fromLatin1(c.key);
        SCOPED_TRACE(key.toStdString() + '=' + c.value);
        CZnHostConfiguration::ApplyDefaults();
        const QString before = c.fact();
        QFile file(ini);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        // Every value comes with a good one read after it, which applies whatever happened before.
        file.write(QStringLiteral("[%1]\n%2=%3\n[opengl]\nvendor=Elsewhere\n")
                       .arg(key.section('/', 0, 0), key.section('/', 1), QLatin1String(c.value))
                       .toUtf8());
        file.close();
        QString message;
        EXPECT_EQ(CZnHostConfiguration::Load(ini, &message), c.applied != nullptr) << qPrintable(message);
        EXPECT_EQ(CZnGLDriverInfo::glVendor(0).toQString(), QStringLiteral("Elsewhere"));
        EXPECT_EQ(c.fact(), c.applied ? QString::fromUtf8(c.applied) : before);
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
        EXPECT_EQ(company(), QStringLiteral("Zinc Design Systems"));
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
    QProcess host;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", path("config"));
    env.insert("XDG_DATA_HOME", path("data"));
    host.setProcessEnvironment(env);
    host.start(QStringLiteral(ZNCIP_BIN_DIR "/zncip-host"),
               {"--config", bad.fileName(), "--script", script.fileName()});
    ASSERT_TRUE(host.waitForFinished(60000));
    const QString errors = QString::fromLocal8Bit(host.readAllStandardError());
    EXPECT_EQ(host.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(host.exitCode(), 0) << qPrintable(errors);
    EXPECT_TRUE(errors.contains(QStringLiteral("malformed host/gui_enabled, display/dpi_factor")))
        << qPrintable(errors);
}
