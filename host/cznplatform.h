#pragma once

#include <QRect>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QVector>
#include <QtGlobal>

// Facts about the machine that the host takes from the operating system. Each one has a Linux
// source and can be replaced, so that tests and the host program's configuration can present any
// machine: a Windows version, several screens, a failing memory query.
class CZnPlatform
{
public:
    // The machine's Windows version, numbered as QSysInfo::WinVersion numbers it; false on a system
    // that is not Windows, which names itself through OperatingSystemName instead.
    static bool GetWindowsVersion(int& version);
    // The system's own name for itself ("Debian GNU/Linux 12 (bookworm)").
    static QString OperatingSystemName();
    // The processor architecture ("x86_64"); empty when unknown.
    static QString ProcessorArchitecture();
    // Total physical memory in bytes; false when the system cannot tell.
    static bool GetTotalPhysicalMemory(quint64& bytes);
    // The desktop, when the host has one: its screen count and the geometry of each screen. A screen
    // index out of range gives an empty rectangle.
    static bool HasDesktop();
    static int ScreenCount();
    static QRect ScreenGeometry(int screen);
    // The .NET Framework versions installed, in the order the system lists them. Only Windows has the
    // framework, so the list is empty unless replaced.
    static QStringList DotNetFrameworkVersions();

    static void SetWindowsVersion(int version);
    // The machine is not Windows again: it reports its operating system name.
    static void ClearWindowsVersion();
    static void SetOperatingSystemName(const QString& name);
    static void SetProcessorArchitecture(const QString& architecture);
    static void SetTotalPhysicalMemory(quint64 bytes);
    // The memory query fails from now on.
    static void SetTotalPhysicalMemoryUnknown();
    // A desktop with exactly these screens, in index order.
    static void SetScreens(const QVector<QRect>& screens);
    static void SetNoDesktop();
    static void SetDotNetFrameworkVersions(const QStringList& versions);
    // Every fact from the operating system again.
    static void Reset();

    // Applies the [platform] keys of a host configuration file over the current facts; returns the
    // keys whose values did not parse (those keep their previous facts).
    static QStringList Configure(const QSettings& file);
};
