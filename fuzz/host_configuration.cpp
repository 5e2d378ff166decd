// The host configuration file (INI) as the host reads it at start. Whatever it holds, loading gives one
// answer, says why when it is not a clean load, and a second load of the same file gives the same.
//
// Folder values are paths the host creates: so that no input reaches outside this process's temporary
// folder, the harness works in that folder and turns every '/' and '\' of the input into '_'.
#include "cznhostconfiguration.h"
#include "cznresources.h"
#include "cznsystemservices.h"
#include "fuzzhost.h"

#include <cstdlib>
#include <utime.h>

namespace
{
QString configFile;

// A new time stamp, so that the process-wide settings cache reads the file anew.
void touch()
{
    static time_t stamp = 1000000000;
    const utimbuf times{++stamp, stamp};
    utime(QFile::encodeName(configFile).constData(), &times);
}

void require(bool condition)
{
    if (!condition)
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    startFuzzApplication();
    QDir::setCurrent(fuzzFolder());
    configFile = fuzzFolder() + QStringLiteral("/zncip-host.ini");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QByteArray text(reinterpret_cast<const char*>(data), static_cast<int>(size));
    text.replace('/', '_').replace('\\', '_');
    require(writeFile(configFile, reinterpret_cast<const uint8_t*>(text.constData()), size));

    touch();
    QString message;
    const bool loaded = CZnHostConfiguration::Load(configFile, &message);
    require(loaded == message.isEmpty());
    const QString endpoint = GetZnResources()->GetCIPEndpoint().toQString();
    const QString version = GetZnSystemServices()->GetVersionString().toQString();

    // Read anew: the settings cache reports a format error only on the first read of a file.
    touch();
    QString again;
    require(CZnHostConfiguration::Load(configFile, &again) == loaded && again == message);
    require(GetZnResources()->GetCIPEndpoint().toQString() == endpoint);
    require(GetZnSystemServices()->GetVersionString().toQString() == version);
    CZnHostConfiguration::ApplyDefaults();
    return 0;
}
