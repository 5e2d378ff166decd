#include "czncipsystemrecorder.h"

#include "czncipeventtexts.h"
#include "czngldriverinfo.h"
#include "cznplatform.h"
#include "cznutils.h"
#include "editorregistration.h"
#include "recorderevents.h"

#include <QThread>

#include <cmath>
#include <limits>
#include <vector>

namespace
{
// The recorder's fixed texts, built once on first use.
struct Texts
{
    const CZnString system{ZnCIPEventTexts::system};
    const CZnString screen{ZnCIPEventTexts::screen};
    const CZnString openGL{ZnCIPEventTexts::openGL};
    const CZnString dpi{ZnCIPEventTexts::dpi};
    const CZnString threadCount{ZnCIPEventTexts::threadCount};
    const CZnString screenCount{ZnCIPEventTexts::screenCount};
    const CZnString os{ZnCIPEventTexts::os};
    const CZnString memory{ZnCIPEventTexts::memory};
    const CZnString resolution{ZnCIPEventTexts::resolution};
    const CZnString rendererCore{ZnCIPEventTexts::rendererCore};
    const CZnString versionCore{ZnCIPEventTexts::versionCore};
    const CZnString rendererCompatibility{ZnCIPEventTexts::rendererCompatibility};
    const CZnString versionCompatibility{ZnCIPEventTexts::versionCompatibility};
    const QString architecturePattern{QStringLiteral(" [%1]")};
    const QString resolutionPattern{QStringLiteral("%1 x %2")};
    const QString driverPattern{QStringLiteral("%1:%2")};
    const CZnString unknownMemory{"unknown"};
};

const Texts& texts()
{
    static const Texts t;
    return t;
}

struct WindowsVersion
{
    int value;
    CZnString name;
};

// QSysInfo::WinVersion values; the ones missing here (2003, the 9x family...) are not told apart.
const std::vector<WindowsVersion>& windowsVersions()
{
    static const std::vector<WindowsVersion> table = {
        {0x0020, CZnString("Windows 2000")},  {0x0030, CZnString("Windows XP")},
        {0x0080, CZnString("Windows Vista")}, {0x0090, CZnString("Windows 7")},
        {0x00a0, CZnString("Windows 8")},     {0x00b0, CZnString("Windows 8.1")},
        {0x00c0, CZnString("Windows 10")},    {0x00f0, CZnString("Windows NT-based")},
    };
    return table;
}

const CZnString& unknownWindowsVersion()
{
    static const CZnString s("Unknown Windows Version");
    return s;
}

// The scaling factor in percent, truncated toward zero (1.999 gives 199). A factor that is no number
// gives 0 and one beyond the integer range the nearest bound, rather than an undefined conversion.
int scalingPercent(double factor)
{
    const double percent = factor * 100.0;
    if (std::isnan(percent))
        return 0;
    if (percent >= static_cast<double>(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    if (percent <= static_cast<double>(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    return static_cast<int>(percent);
}

CZnString operatingSystemLabel()
{
    int winVersion = 0;
    QString label = CZnPlatform::GetWindowsVersion(winVersion)
                        ? CZnCIPSystemRecorder::WindowsVersionName(winVersion).toQString()
                        : CZnPlatform::OperatingSystemName();
    const QString architecture = CZnPlatform::ProcessorArchitecture();
    if (!architecture.isEmpty())
        label += texts().architecturePattern.arg(architecture);
    return label;
}

CZnString memoryLabel()
{
    quint64 bytes = 0;
    if (!CZnPlatform::GetTotalPhysicalMemory(bytes))
        return texts().unknownMemory;
    // Whole mebibytes, reported as the 32-bit signed number the collection side has always received.
    return QString::number(static_cast<qint32>(static_cast<quint32>(bytes >> 20)));
}

void reportOpenGL()
{
    if (!activeService())
        return;
    const bool core = CZnGLDriverInfo::canUseCoreProfile();
    const Texts& t = texts();
    sendEvent(t.openGL, core ? t.rendererCore : t.rendererCompatibility, CZnGLDriverInfo::glRenderer(0), 1);
    const QString driver = t.driverPattern.arg(CZnGLDriverInfo::glVendor(0).toQString())
                               .arg(CZnGLDriverInfo::glVersion(0).toQString());
    sendEvent(t.openGL, core ? t.versionCore : t.versionCompatibility, driver, 1);
}
} // namespace

void CZnCIPSystemRecorder::Start()
{
    registerWithEditor(this);
}

void CZnCIPSystemRecorder::Stop()
{
    unregisterFromEditor(this);
}

CZnString CZnCIPSystemRecorder::WindowsVersionName(int winVersion)
{
    for (const WindowsVersion& v : windowsVersions())
        if (v.value == winVersion)
            return v.name;
    return unknownWindowsVersion();
}

void CZnCIPSystemRecorder::mainFrameCreated(QWidget*)
{
    const bool desktop = CZnPlatform::HasDesktop();
    if (activeService())
    {
        const Texts& t = texts();
        sendEvent(t.system, t.dpi, QString::number(scalingPercent(CZnUtils::dpiFactor())), 1);
        sendEvent(t.system, t.threadCount, QString::number(QThread::idealThreadCount()), 1);
        if (desktop)
            sendEvent(t.system, t.screenCount, QString::number(CZnPlatform::ScreenCount()), 1);
        sendEvent(t.system, t.os, operatingSystemLabel(), 1);
        sendEvent(t.system, t.memory, memoryLabel(), 1);
        // The count is asked again on every pass: a screen may come or go while the events go out.
        for (int screen = 0; desktop && screen < CZnPlatform::ScreenCount(); ++screen)
        {
            const QRect geometry = CZnPlatform::ScreenGeometry(screen);
            sendEvent(t.screen, t.resolution,
                      t.resolutionPattern.arg(geometry.width()).arg(geometry.height()), 1);
        }
        reportOpenGL();
    }
    if (CZnCIP* cip = GetZnCIP())
        cip->StartSession();
}

void CZnCIPSystemRecorder::mainFrameDestroyed(QWidget*)
{
    if (CZnCIP* cip = GetZnCIP())
        cip->EndSession();
}
