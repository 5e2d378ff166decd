// The real plug-in file, loaded with dlopen as the host loads it.
#include "czncip.h"
#include "czndocumentmanager.h"
#include "cznhostconfiguration.h"
#include "cznresources.h"
#include "cznsystemservices.h"
#include "czntestutils.h"
#include "hostfixture.h"
#include "odeditor.h"
#include "odrxmoduleloader.h"
#include "profilesettings.h"
#include "recording.h"

#include <QImage>
#include <QProcess>
#include <QResource>
#include <QSet>
#include <QSettings>

#include <dlfcn.h>

namespace
{
const QString modulePath = QStringLiteral(ZNCIP_BIN_DIR "/ZnCIP_4.03_15.tx");

class ModuleLoading : public HostFixture
{
protected:
    void SetUp() override
    {
        HostFixture::SetUp();
        ASSERT_TRUE(m_loader.load(modulePath.toStdString())) << m_loader.error();
    }
    void TearDown() override
    {
        deleteModule();
        HostFixture::TearDown();
    }
    void deleteModule()
    {
        if (m_module)
            m_module->deleteModule();
        m_module = nullptr;
    }

    OdRxModuleLoader m_loader; // unloads the library when the test ends
    OdRxModule* m_module = nullptr;
};
} // namespace

TEST_F(ModuleLoading, ExportsExactlyTheTwoEntryPoints)
{
    QProcess nm;
    nm.start(QStringLiteral("nm"), {QStringLiteral("-D"), QStringLiteral("--defined-only"), modulePath});
    ASSERT_TRUE(nm.waitForFinished(10000));
    QSet<QString> symbols;
    for (const QString& line :
         QString::fromLocal8Bit(nm.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts))
        symbols.insert(line.section(' ', -1));
    EXPECT_EQ(symbols, (QSet<QString>{"odrxCreateModuleObject", "odrxGetAPIVersion"}));

    // Called through the host's own signature for it.
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
    OdRxModuleHandle handle = m_loader.handle();
    m_module = create(&handle);
    ASSERT_NE(m_module, nullptr);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(m_module->sysData(), m_loader.handle());

    OdRxModuleHandle other = reinterpret_cast<OdRxModuleHandle>(0x1234);
    EXPECT_EQ(create(&other), m_module);
    EXPECT_EQ(other, reinterpret_cast<OdRxModuleHandle>(0x1234)) << "a later call leaves its argument alone";

    // After deleteModule the factory makes a fresh object (its address may repeat) and takes the handle
    // again.
    deleteModule();
    handle = m_loader.handle();
    m_module = create(&handle);
    ASSERT_NE(m_module, nullptr);
    EXPECT_EQ(handle, nullptr) << "the deleted object was handed out again";
    EXPECT_EQ(m_module->sysData(), m_loader.handle());
    EXPECT_EQ(m_module->numRefs(), 0);
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
    } cases[] = {
        {"suppressed by the resources", 1, true, true, 0, false},
        {"without a GUI", 1, false, false, 0, false},
        {"participation absent", -1, false, true, 1, false},
        {"participation 0", 0, false, true, 1, false},
        {"participation 1", 1, false, true, 4, true},
        {"participation 2: started, but not counted as participating", 2, false, true, 4, false},
    };
    int n = 0;
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.what);
        CZnHostConfiguration::ApplyDefaults();
        CZnDocumentManager* documents = GetZnSystemServices()->GetDocumentManager();
        GetZnSystemServices()->SetProfile(QStringLiteral("Default"), path(QString("p%1").arg(++n)));
        if (c.control >= 0)
            setControl(c.control);
        GetZnResources()->SetCIPSuppressed(c.suppressed);
        CZnTestUtils::SetGUIEnabled(c.gui);

        m_module = m_loader.createModuleObject();
        m_module->initApp();
        EXPECT_EQ(GetZnCIP() != nullptr, c.reactors > 0);
        EXPECT_EQ(odedEditor()->reactors().size(), c.reactors);
        EXPECT_EQ(documents->ReactorCount(), c.reactors > 0 ? 1u : 0u);
        EXPECT_EQ(GetZnCIP() && GetZnCIP()->IsEnabled(), c.enabled);
        m_module->uninitApp();
        EXPECT_EQ(GetZnCIP(), nullptr);
        EXPECT_EQ(odedEditor()->reactors().size() + documents->ReactorCount(), 0u);
        deleteModule();
    }
}

TEST(ModuleResources, BannerIsRegisteredWhileTheLibraryIsLoaded)
{
    const QString banner = QStringLiteral(":/images/cip/cip_banner.png");
    EXPECT_FALSE(QFile::exists(banner));
    {
        OdRxModuleLoader loader;
        ASSERT_TRUE(loader.load(modulePath.toStdString())) << loader.error();
        QFile file(banner);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray png = file.readAll();
        EXPECT_EQ(QImage::fromData(png, "PNG").size(), QSize(1200, 250));
        // Stored as it is (a PNG is compressed already): what is stored is what is read.
        EXPECT_EQ(QResource(banner).size(), png.size());
    }
    EXPECT_FALSE(QFile::exists(banner)) << "the resource still points into the unloaded library";
}

TEST_F(ModuleLoading, NothingOfTheModuleOutlivesItsUnload)
{
    // A participating user runs a command: the module writes its client identifier into the
    // application's settings, whose process-wide cache outlives the library.
    setControl(1);
    m_module = m_loader.createModuleObject();
    m_module->initApp();
    OdEdCommandPtr line(OdRxObjectImpl<OdEdCommand>::createObject(OdString("LINE"), OdString("ZNDRAW")));
    OdEdCommandContext context;
    odedEditor()->fireCommandWillStart(line.get(), &context);
    m_module->uninitApp();
    deleteModule();
    m_loader.unload();

    // Reading the settings walks the cached keys: none may point into the unloaded library.
    QSettings settings;
    EXPECT_EQ(settings.value(QStringLiteral("CIP_ClientId")).toString().size(), 36);
    EXPECT_TRUE(settings.allKeys().contains(QStringLiteral("CIP_ClientId")));
}
