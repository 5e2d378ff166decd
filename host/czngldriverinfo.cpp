#include "czngldriverinfo.h"

namespace
{
struct Driver
{
    bool core = true;
    CZnString renderer = CZnString("Mesa Intel(R) UHD Graphics 630 (CFL GT2)");
    CZnString vendor = CZnString("Intel");
    CZnString version = CZnString("4.6 (Core Profile) Mesa 22.3.6");
};

Driver& driver()
{
    static Driver d;
    return d;
}
} // namespace

bool CZnGLDriverInfo::canUseCoreProfile()
{
    return driver().core;
}

const CZnString& CZnGLDriverInfo::glRenderer(OPENGL_PROFILE)
{
    return driver().renderer;
}

const CZnString& CZnGLDriverInfo::glVendor(OPENGL_PROFILE)
{
    return driver().vendor;
}

const CZnString& CZnGLDriverInfo::glVersion(OPENGL_PROFILE)
{
    return driver().version;
}

void CZnGLDriverInfo::setCoreProfile(bool on)
{
    driver().core = on;
}

void CZnGLDriverInfo::setDriver(const CZnString& renderer, const CZnString& vendor, const CZnString& version)
{
    driver().renderer = renderer;
    driver().vendor = vendor;
    driver().version = version;
}
