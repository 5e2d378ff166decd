// One cycle of the host's module handling: load, factory, initApp, uninitApp, deleteModule, unload.
// Prints the median cycle time and the resident memory growth over the cycles, each beside its target.
#include "cznhostconfiguration.h"
#include "cznsystemservices.h"
#include "odrxmoduleloader.h"
#include "userfolders.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace
{
long residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

bool cycle(const std::string& path)
{
    OdRxModuleLoader loader;
    if (!loader.load(path))
    {
        std::fprintf(stderr, "cannot load %s: %s\n", path.c_str(), loader.error().c_str());
        return false;
    }
    OdRxModule* module = loader.createModuleObject();
    module->initApp();
    module->uninitApp();
    module->deleteModule();
    loader.unload();
    return true;
}
} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir home;
    redirectUserFolders(home.path().toLocal8Bit());
    QApplication app(argc, argv);
    const std::string path = argc > 1 ? argv[1] : ZNCIP_BIN_DIR "/ZnCIP_4.03_15.tx";
    const int cycles = argc > 2 ? std::atoi(argv[2]) : 1000;

    CZnHostConfiguration::ApplyDefaults();
    GetZnSystemServices()->SetProfile(QStringLiteral("Default"), home.filePath(QStringLiteral("profile")));

    // Warm up: the first load pays for the dynamic linker's and Qt's one-time work.
    for (int i = 0; i < 20; ++i)
        if (!cycle(path))
            return 1;
    const long before = residentKiB();
    std::vector<double> ms;
    ms.reserve(cycles);
    for (int i = 0; i < cycles; ++i)
    {
        QElapsedTimer t;
        t.start();
        if (!cycle(path))
            return 1;
        ms.push_back(t.nsecsElapsed() / 1e6);
    }
    const long after = residentKiB();
    std::sort(ms.begin(), ms.end());
    const double median = ms[ms.size() / 2];
    const long growth = after - before;
    std::printf("module load cycle: median %.3f ms (target <= 10 ms), p99 %.3f ms over %d cycles\n", median,
                ms[ms.size() * 99 / 100], cycles);
    std::printf("module load cycle: resident memory growth %ld KiB over %d cycles (target < 1024 KiB)\n",
                growth, cycles);
    return median <= 10.0 && growth < 1024 ? 0 : 1;
}
