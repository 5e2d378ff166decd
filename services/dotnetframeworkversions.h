#pragma once

#include <QStringList>

// The .NET Framework versions installed on the machine, in the order the system lists them. Only
// Windows has the framework; elsewhere the list is empty.
QStringList installedDotNetFrameworkVersions();
