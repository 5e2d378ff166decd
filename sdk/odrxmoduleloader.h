#pragma once

#include "odrxmodule.h"

#include <string>

// Loads a module library (.tx) by path the way the host does: dlopen, resolve the two exported
// functions, create the module object. The host then drives initApp, uninitApp, deleteModule and
// finally unload.
class OdRxModuleLoader
{
public:
    OdRxModuleLoader() = default;
    OdRxModuleLoader(const OdRxModuleLoader&) = delete;
    OdRxModuleLoader& operator=(const OdRxModuleLoader&) = delete;
    ~OdRxModuleLoader() { unload(); }

    // False, with error() telling why, when the file cannot be loaded or lacks an entry point.
    bool load(const std::string& path);
    // The module object from the library's factory; created on the first call.
    OdRxModule* createModuleObject();
    void apiVersion(int& major, int& minor, int& majorBuild, int& minorBuild) const;
    // Unloads the library. The module object must have been deleted before.
    void unload();

    bool isLoaded() const { return m_library != nullptr; }
    const std::string& error() const { return m_error; }
    OdRxModuleHandle handle() const { return m_library; }

private:
    OdRxModuleHandle m_library = nullptr;
    OdRxCreateModuleObjectFn m_create = nullptr;
    OdRxGetAPIVersionFn m_version = nullptr;
    std::string m_error;
};
