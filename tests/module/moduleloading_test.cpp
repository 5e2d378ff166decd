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
#include "recording.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QResource>
#include <QSet>
#include <QSettings>

#include <dlfcn.h>

namespace
{
const QString modulePath = QStringLiteral(ZNCIP_BIN_DIR "/ZnCIP_4.03_15.tx");

void setControl(int value)
{
    OdResBufPtr rb = OdResBuf::newRb(OdResBuf::kRtInt32);
    rb->setInt32(value);
    GetZnSystemServices()->GetProfile()->GetSettings()->SetValue(CZnString("cip"), CZnString("CIPCONTROL"),
                                                                 rb);
}

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
        if (m_module)
        {
            m_module->deleteModule();
            m_module = nullptr;
        }
        m_loader.unload();
        HostFixture::TearDown();
    }
    OdRxModule* module()
    {
        if (!m_module)
            m_module = m_loader.createModuleObject();
        return m_module;
    }
    static size_t editorReactors() { return odedEditor()->reactors().size(); }
    static size_t documentReactors() { return GetZnSystemServices()->GetDocumentManager()->ReactorCount(); }

    OdRxModuleLoader m_loader;
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
    EXPECT_EQ(symbols,
              (QSet<QString>{QStringLiteral("odrxCreateModuleObject"), QStringLiteral("odrxGetAPIVersion")}));
}

TEST_F(ModuleLoading, ReportsTheApiVersionItWasBuiltAgainst)
{
    int v[4] = {-1, -1, -1, -1};
    m_loader.apiVersion(v[0], v[1], v[2], v[3]);
    EXPECT_EQ(std::vector<int>(v, v + 4), (std::vector<int>{4, 3, 2, 44630}));
}

TEST_F(ModuleLoading, FactoryCreatesOnceAndTakesTheHandleOnlyThen)
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
    EXPECT_EQ(other, reinterpret_cast<OdRxModuleHandle>(0x1234));

    m_module->addRef();
    m_module->addRef();
    m_module->release();
    EXPECT_EQ(m_module->numRefs(), 1);
    const QString name = CZnString(m_module->moduleName()).toQString();
    EXPECT_EQ(name, QFileInfo(modulePath).canonicalFilePath());
}

TEST_F(ModuleLoading, DeleteModuleForgetsTheSingleton)
{
    OdRxModule* first = module();
    first->deleteModule();
    m_module = nullptr;
    // A fresh object after deletion, not the freed one. Its address may repeat, so check it is usable.
    OdRxModule* second = module();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->numRefs(), 0);
}

TEST_F(ModuleLoading, StaysPassiveWhenSuppressedOrWithoutGui)
{
    for (int run = 0; run < 2; ++run)
    {
        CZnHostConfiguration::ApplyDefaults();
        GetZnSystemServices()->SetProfile(QStringLiteral("Default"), path(QStringLiteral("profile")));
        setControl(1);
        if (run == 0)
            GetZnResources()->SetCIPSuppressed(true);
        else
            CZnTestUtils::SetGUIEnabled(false);
        module()->initApp();
        EXPECT_EQ(GetZnCIP(), nullptr);
        EXPECT_EQ(editorReactors(), 0u);
        CZnDocument* doc = GetZnSystemServices()->GetDocumentManager()->NewDocument(CZnString("a.dwg"));
        EXPECT_NE(doc, nullptr);
        EXPECT_EQ(documentReactors(), 0u);
        module()->uninitApp();
        EXPECT_EQ(editorReactors(), 0u);
        m_module->deleteModule();
        m_module = nullptr;
    }
}

TEST_F(ModuleLoading, StartsRecordersOnlyForAParticipationStateOtherThanZero)
{
    struct Case
    {
        int control; // -1: absent
        size_t reactors;
        bool enabled;
    };
    for (const Case c : {Case{-1, 1, false}, Case{0, 1, false}, Case{1, 4, true}, Case{2, 4, false}})
    {
        SCOPED_TRACE(c.control);
        GetZnSystemServices()->SetProfile(QStringLiteral("P%1").arg(c.control + 1),
                                          path(QStringLiteral("p%1").arg(c.control + 1)));
        if (c.control >= 0)
            setControl(c.control);
        m_loader.unload();
        ASSERT_TRUE(m_loader.load(modulePath.toStdString()));
        module()->initApp();
        ASSERT_NE(GetZnCIP(), nullptr);
        // The core object's reactor, plus one per started recorder.
        EXPECT_EQ(editorReactors(), c.reactors);
        EXPECT_EQ(documentReactors(), 1u);
        EXPECT_EQ(GetZnCIP()->IsEnabled(), c.enabled);
        module()->uninitApp();
        EXPECT_EQ(GetZnCIP(), nullptr);
        EXPECT_EQ(editorReactors(), 0u);
        m_module->deleteModule();
        m_module = nullptr;
    }
}

TEST_F(ModuleLoading, UninitAppStopsForeignRecordersAfterTheModulesOwn)
{
    setControl(1);
    module()->initApp();
    QStringList journal;
    RecordingRecorder foreign(QStringLiteral("foreign"), &journal);
    GetZnCIP()->AddRecorder(&foreign);
    EXPECT_EQ(journal, QStringList{QStringLiteral("foreign Start")});
    module()->uninitApp();
    EXPECT_EQ(journal, (QStringList{QStringLiteral("foreign Start"), QStringLiteral("foreign Stop")}));
    EXPECT_EQ(editorReactors(), 0u);
    EXPECT_EQ(documentReactors(), 0u);
}

TEST_F(ModuleLoading, LoadRejectsFilesThatAreNotModules)
{
    OdRxModuleLoader loader;
    EXPECT_FALSE(loader.load((path() + "/missing.tx").toStdString()));
    EXPECT_FALSE(loader.error().empty());
    EXPECT_FALSE(loader.load(ZNCIP_BIN_DIR "/libzncip_sdk.so"));
    EXPECT_NE(loader.error().find("not a module"), std::string::npos);
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
        const QImage image = QImage::fromData(png, "PNG");
        EXPECT_EQ(image.size(), QSize(1200, 250));
        EXPECT_TRUE(image.hasAlphaChannel());
        // Stored as it is (a PNG is compressed already): what is stored is what is read.
        EXPECT_EQ(QResource(banner).size(), png.size());
    }
    EXPECT_FALSE(QFile::exists(banner));
}

TEST_F(ModuleLoading, NothingOfTheModuleOutlivesItsUnload)
{
    // A participating user runs a command: the module writes its client identifier into the
    // application's settings, whose process-wide cache outlives the library.
    setControl(1);
    module()->initApp();
    OdEdCommandPtr line(OdRxObjectImpl<OdEdCommand>::createObject(OdString("LINE"), OdString("ZNDRAW")));
    OdEdCommandContext context;
    odedEditor()->fireCommandWillStart(line.get(), &context);
    module()->uninitApp();
    m_module->deleteModule();
    m_module = nullptr;
    m_loader.unload();

    // Reading the settings walks the cached keys: none may point into the unloaded library.
    QSettings settings;
    EXPECT_EQ(settings.value(QStringLiteral("CIP_ClientId")).toString().size(), 36);
    EXPECT_TRUE(settings.allKeys().contains(QStringLiteral("CIP_ClientId")));
}
