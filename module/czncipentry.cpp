// The library's two entry points: the host finds the module object through them.
#include "czncipmodule.h"

namespace
{
using CZnCIPModuleObject = OdRxWin32Module<CZnCIPModule, CZnCIPModule>;

// The one module object of the process, once created.
OdRxModule* singletonModule = nullptr;
} // namespace

// The two entry points, unmangled and the only symbols the library exports.
extern "C" __attribute__((visibility("default"))) OdRxModule* odrxCreateModuleObject(OdRxModuleHandle* handle)
{
    if (!singletonModule)
    {
        singletonModule = new CZnCIPModuleObject(*handle, &singletonModule);
        *handle = nullptr;
    }
    return singletonModule;
}

extern "C" __attribute__((visibility("default"))) void odrxGetAPIVersion(int& major, int& minor,
                                                                         int& majorBuild, int& minorBuild)
{
    major = 4;
    minor = 3;
    majorBuild = 2;
    minorBuild = 44630;
}
