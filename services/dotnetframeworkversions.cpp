#include "dotnetframeworkversions.h"

// The framework exists only on Windows, where its setup keys in the registry name the versions. The
// platforms this build targets have neither, so the log simply carries no ".NETFramework" group.
QStringList installedDotNetFrameworkVersions()
{
    return QStringList();
}
