// The real plug-in file, loaded with dlopen as the host loads it.
#include "czncip.h"
#include "czndocumentmanager.h"
#include "cznresources.h"
#include "czntestutils.h"
#include "hostfixture.h"
#include "odeditor.h"
#include "odrxmoduleloader.h"
#include "profilesettings.h"

#include <QImage>
#include <QProcess>
#include <QSettings>

#include <dlfcn.h>

namespace
{
const QString modulePath = QStringLiteral(ZNCIP_BIN_DIR "/ZnCIP_4.03_15.tx");

struct DeleteModule
{
    void operator()(OdRxModule* module) const { module->deleteModule(); }
};

class ModuleLoading : public HostFixture
{
protected:
    void SetUp() override
    {
        HostFixture::SetUp();
        ASSERT_TRUE(m_loader.load(modulePath.toStdString())) << m_loader.error();
    }

    OdRxModuleLoader m_loader; // unloads the library after the module object is gone
    std::unique_ptr<OdRxModule, DeleteModule> m_module;
};
} // namespace

TEST_F(ModuleLoading, ExportsExactlyTheTwoEntryPoints)
{
    QProcess nm;
    nm.start(QStringLiteral("nm"), {QStringLiteral("-Dj"), QStringLiteral("--defined-only"), modulePath});
    ASSERT_TRUE(nm.waitForFinished(10000));
    EXPECT_EQ(nm.readAllStandardOutput().toStdString(), "odrxCreateModuleObject\nodrxGetAPIVersion\n");

    auto version = reinterpret_cast<OdRxGetAPIVersionFn>(dlsym(m_loader.handle(), "odrxGetAPIVersion"));
    ASSERT_NE(version, nullptr);
    int v[4] = {-1, -1, -1, -1};
    version(v[0], v[1], v[2], v[3]);
    EXPECT_EQ(std::vector<int>(v, v + 4), (std::vector<int>{4, 3, 2, 44630}));
}

TEST_F(ModuleLoading, FactoryCreatesOnceTakesTheHandleOnlyThenAndStartsAgainAfterDeleteModule)
{
    auto create =
        reinterpret_cast<OdRxCreateModuleObjectFn>(dlsym(m_loader.handle(), "odrxCreateModuleObject"));
    ASSERT_NE(create, nullptr);
    for (int round = 0; round < 2; ++round) // the second after deleteModule: a fresh object, same rules
    {
        m_module.reset();
        OdRxModuleHandle handle = m_loader.handle();
        m_module.reset(create(&handle));
        ASSERT_NE(m_module, nullptr);
        EXPECT_EQ(handle, nullptr) << round;
        EXPECT_EQ(m_module->sysData(), m_loader.handle());
        OdRxModuleHandle other = reinterpret_cast<OdRxModuleHandle>(0x1234);
        EXPECT_EQ(create(&other), m_module.get());
        EXPECT_EQ(other, reinterpret_cast<OdRxModuleHandle>(0x1234)) << "a later call leaves it alone";
    }
}

TEST_F(ModuleLoading, InitAppStartsRecordersOnlyForAnActiveHostAndParticipationOtherThanZero)
{
    const struct
    {
        const char* what;
        int control; // -1: absent
        bool suppressed, gui;
        size_t reactors; // none for a passive host, else the core object's plus one per started recorder
        bool enabled;
    } cases[] = {{"suppressed by the resources", 1, true, true, 0, false},
                 {"without a GUI", 1, false, false, 0, false},
                 {"participation absent", -1, false, true, 1, false},
                 {"participation 0", 0, false, true, 1, false},
                 {"participation 1", 1, false, true, 4, true},
                 {"participation 2: started, but not counted as participating", 2, false, true, 4, false}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.what);
        CZnDocumentManager* documents = GetZnSystemServices()->GetDocumentManager();
        GetZnSystemServices()->SetProfile(QStringLiteral("Default"), path(c.what));
        if (c.control >= 0)
            setControl(c.control);
        GetZnResources()->SetCIPSuppressed(c.suppressed);
        CZnTestUtils::SetGUIEnabled(c.gui);
        m_module.reset(m_loader.createModuleObject());
        m_module->initApp();
        EXPECT_EQ(GetZnCIP() != nullptr, c.reactors > 0);
        EXPECT_EQ(odedEditor()->reactors().size(), c.reactors);
        EXPECT_EQ(documents->ReactorCount(), c.reactors > 0 ? 1u : 0u);
        EXPECT_EQ(GetZnCIP() && GetZnCIP()->IsEnabled(), c.enabled);
        m_module->uninitApp();
        EXPECT_EQ(GetZnCIP(), nullptr);
        EXPECT_EQ(odedEditor()->reactors().size() + documents->ReactorCount(), 0u);
        m_module.reset();
    }
}

TEST_F(ModuleLoading, NothingOfTheModuleOutlivesItsUnload)
{
    QFile banner(QStringLiteral(":/images/cip/cip_banner.png"));
    EXPECT_EQ(QImage(banner.fileName()).size(), QSize(1200, 250))
        << "the banner is registered with the library";
    // A participating user runs a command: the module writes its client identifier into the
    // application's settings, whose process-wide cache outlives the library.
    setControl(1);
    m_module.reset(m_loader.createModuleObject());
    m_module->initApp();
    OdEdCommandPtr line(OdRxObjectImpl<OdEdCommand>::createObject(OdString("LINE"), OdString("ZNDRAW")));
    OdEdCommandContext context;
    odedEditor()->fireCommandWillStart(line.get(), &context);
    m_module->uninitApp();
    m_module.reset();
    m_loader.unload();
    EXPECT_FALSE(QFile::exists(banner.fileName())) << "the resource still points into the unloaded library";
    QSettings settings; // reading walks the cached keys: none may point into the unloaded library
    EXPECT_EQ(settings.value(QStringLiteral("CIP_ClientId")).toString().size(), 36);
    EXPECT_TRUE(settings.allKeys().contains(QStringLiteral("CIP_ClientId")));
}
