#include "odrxmoduleloader.h"

#include <dlfcn.h>
#include <link.h>

#include <climits>
#include <cstdlib>

OdString odrxModuleFileName(OdRxModuleHandle handle)
{
    link_map* map = nullptr;
    if (!handle || dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || !map || !map->l_name)
        return OdString();
    char resolved[PATH_MAX];
    const char* path = realpath(map->l_name, resolved) ? resolved : map->l_name;
    // Paths are UTF-8 on this platform; widen code point by code point.
    std::u16string wide;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(path); *p;)
    {
        char32_t c = *p++;
        int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        if (extra)
            c &= 0x3F >> extra;
        for (; extra > 0 && (*p & 0xC0) == 0x80; --extra)
            c = (c << 6) | (*p++ & 0x3F);
        if (c >= 0x10000)
        {
            c -= 0x10000;
            wide.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            wide.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        }
        else
            wide.push_back(static_cast<char16_t>(c));
    }
    return OdString(std::move(wide));
}

bool OdRxModuleLoader::load(const std::string& path)
{
    unload();
    m_error.clear();
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library)
    {
        const char* why = dlerror();
        m_error = why ? why : "cannot load " + path;
        return false;
    }
    auto create = reinterpret_cast<OdRxCreateModuleObjectFn>(dlsym(library, "odrxCreateModuleObject"));
    auto version = reinterpret_cast<OdRxGetAPIVersionFn>(dlsym(library, "odrxGetAPIVersion"));
    if (!create || !version)
    {
        m_error = path + " is not a module: odrxCreateModuleObject or odrxGetAPIVersion is missing";
        dlclose(library);
        return false;
    }
    m_library = library;
    m_create = create;
    m_version = version;
    return true;
}

OdRxModule* OdRxModuleLoader::createModuleObject()
{
    if (!m_create)
        return nullptr;
    // The factory takes the handle over and clears our copy; the loader keeps its own for unload.
    OdRxModuleHandle handle = m_library;
    return m_create(&handle);
}

void OdRxModuleLoader::apiVersion(int& major, int& minor, int& majorBuild, int& minorBuild) const
{
    major = minor = majorBuild = minorBuild = 0;
    if (m_version)
        m_version(major, minor, majorBuild, minorBuild);
}

void OdRxModuleLoader::unload()
{
    if (m_library)
        dlclose(m_library);
    m_library = nullptr;
    m_create = nullptr;
    m_version = nullptr;
}
