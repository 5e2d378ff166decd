#include "cznplatform.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QSysInfo>

#include <optional>
#include <unistd.h>

namespace
{
enum class Override
{
    None,
    Value,
    Unknown
};

// Replaced facts; whatever is not replaced comes from the system at each query.
struct Facts
{
    std::optional<int> windowsVersion;
    std::optional<QString> osName;
    std::optional<QString> architecture;
    Override memory = Override::None;
    quint64 memoryBytes = 0;
    Override desktop = Override::None;
    QVector<QRect> screens;
    QStringList dotNetVersions;
};

Facts& facts()
{
    static Facts f;
    return f;
}

bool systemMemory(quint64& bytes)
{
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0)
        return false;
    bytes = static_cast<quint64>(pages) * static_cast<quint64>(pageSize);
    return true;
}

// A desktop exists only under a widgets application; a console host has none.
bool systemDesktop()
{
    return qobject_cast<QApplication*>(QCoreApplication::instance()) && QApplication::desktop();
}

// "1920x1080, 2560x1440": screens placed side by side from the left, in index order.
bool parseScreens(const QString& text, QVector<QRect>& screens)
{
    screens.clear();
    int left = 0;
    for (const QString& part : text.split(QLatin1Char(','), Qt::SkipEmptyParts))
    {
        const QStringList size = part.trimmed().split(QLatin1Char('x'));
        bool okWidth = false;
        bool okHeight = false;
        const int width = size.size() == 2 ? size[0].trimmed().toInt(&okWidth) : 0;
        const int height = size.size() == 2 ? size[1].trimmed().toInt(&okHeight) : 0;
        if (!okWidth || !okHeight || width <= 0 || height <= 0)
            return false;
        screens.append(QRect(left, 0, width, height));
        left += width;
    }
    return true;
}
} // namespace

bool CZnPlatform::GetWindowsVersion(int& version)
{
    if (!facts().windowsVersion)
        return false;
    version = *facts().windowsVersion;
    return true;
}

QString CZnPlatform::OperatingSystemName()
{
    return facts().osName ? *facts().osName : QSysInfo::prettyProductName();
}

QString CZnPlatform::ProcessorArchitecture()
{
    return facts().architecture ? *facts().architecture : QSysInfo::currentCpuArchitecture();
}

bool CZnPlatform::GetTotalPhysicalMemory(quint64& bytes)
{
    switch (facts().memory)
    {
    case Override::Value:
        bytes = facts().memoryBytes;
        return true;
    case Override::Unknown:
        return false;
    case Override::None:
        break;
    }
    return systemMemory(bytes);
}

bool CZnPlatform::HasDesktop()
{
    switch (facts().desktop)
    {
    case Override::Value:
        return true;
    case Override::Unknown:
        return false;
    case Override::None:
        break;
    }
    return systemDesktop();
}

int CZnPlatform::ScreenCount()
{
    if (facts().desktop != Override::None)
        return facts().screens.size();
    return systemDesktop() ? QGuiApplication::screens().size() : 0;
}

QRect CZnPlatform::ScreenGeometry(int screen)
{
    if (facts().desktop != Override::None)
        return facts().screens.value(screen);
    if (!systemDesktop())
        return QRect();
    const QList<QScreen*> screens = QGuiApplication::screens();
    return screen >= 0 && screen < screens.size() ? screens[screen]->geometry() : QRect();
}

void CZnPlatform::SetWindowsVersion(int version)
{
    facts().windowsVersion = version;
}

void CZnPlatform::ClearWindowsVersion()
{
    facts().windowsVersion.reset();
}

void CZnPlatform::SetOperatingSystemName(const QString& name)
{
    facts().osName = name;
}

void CZnPlatform::SetProcessorArchitecture(const QString& architecture)
{
    facts().architecture = architecture;
}

void CZnPlatform::SetTotalPhysicalMemory(quint64 bytes)
{
    facts().memory = Override::Value;
    facts().memoryBytes = bytes;
}

void CZnPlatform::SetTotalPhysicalMemoryUnknown()
{
    facts().memory = Override::Unknown;
}

void CZnPlatform::SetScreens(const QVector<QRect>& screens)
{
    facts().desktop = Override::Value;
    facts().screens = screens;
}

void CZnPlatform::SetNoDesktop()
{
    facts().desktop = Override::Unknown;
    facts().screens.clear();
}

QStringList CZnPlatform::DotNetFrameworkVersions()
{
    return facts().dotNetVersions;
}

void CZnPlatform::SetDotNetFrameworkVersions(const QStringList& versions)
{
    facts().dotNetVersions = versions;
}

void CZnPlatform::Reset()
{
    facts() = Facts();
}

QStringList CZnPlatform::Configure(const QSettings& file)
{
    QStringList problems;
    const auto has = [&](const char* key) { return file.contains(QLatin1String(key)); };
    // An INI value with commas comes back as a list; the screens list is written that way.
    const auto text = [&](const char* key)
    {
        const QVariant value = file.value(QLatin1String(key));
        if (value.userType() == QMetaType::QStringList)
            return value.toStringList().join(QLatin1Char(',')).trimmed();
        return value.toString().trimmed();
    };

    if (has("platform/windows_version"))
    {
        // Decimal or hexadecimal ("0x00c0"); empty means the machine is not Windows.
        const QString value = text("platform/windows_version");
        bool ok = false;
        const int version = value.toInt(&ok, 0);
        if (value.isEmpty())
            ClearWindowsVersion();
        else if (ok)
            SetWindowsVersion(version);
        else
            problems << QStringLiteral("platform/windows_version");
    }
    if (has("platform/os_name"))
        SetOperatingSystemName(text("platform/os_name"));
    if (has("platform/architecture"))
        SetProcessorArchitecture(text("platform/architecture"));
    if (has("platform/memory_bytes"))
    {
        // A byte count, or "unknown" for a machine whose memory query fails.
        const QString value = text("platform/memory_bytes");
        bool ok = false;
        const quint64 bytes = value.toULongLong(&ok, 0);
        if (value.compare(QLatin1String("unknown"), Qt::CaseInsensitive) == 0)
            SetTotalPhysicalMemoryUnknown();
        else if (ok)
            SetTotalPhysicalMemory(bytes);
        else
            problems << QStringLiteral("platform/memory_bytes");
    }
    if (has("platform/screens"))
    {
        // "none" for a host without a desktop, otherwise the screens' sizes in index order.
        const QString value = text("platform/screens");
        QVector<QRect> screens;
        if (value.compare(QLatin1String("none"), Qt::CaseInsensitive) == 0)
            SetNoDesktop();
        else if (parseScreens(value, screens))
            SetScreens(screens);
        else
            problems << QStringLiteral("platform/screens");
    }
    if (has("platform/dotnet_versions"))
    {
        // Comma-separated, in the order the machine lists them ("v2.0.50727,v4.0.30319").
        QStringList versions;
        for (const QString& version : text("platform/dotnet_versions").split(QLatin1Char(','), Qt::SkipEmptyParts))
            if (!version.trimmed().isEmpty())
                versions << version.trimmed();
        SetDotNetFrameworkVersions(versions);
    }
    return problems;
}
