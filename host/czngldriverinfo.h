#pragma once

#include "cznstring.h"

// The OpenGL profile the host asks about; 0 is the profile the host renders with.
using OPENGL_PROFILE = int;

// What the host learnt about the OpenGL driver when it created its first context.
class CZnGLDriverInfo
{
public:
    static bool canUseCoreProfile();
    static const CZnString& glRenderer(OPENGL_PROFILE profile);
    static const CZnString& glVendor(OPENGL_PROFILE profile);
    static const CZnString& glVersion(OPENGL_PROFILE profile);

    static void setCoreProfile(bool on);
    static void setDriver(const CZnString& renderer, const CZnString& vendor, const CZnString& version);
};
