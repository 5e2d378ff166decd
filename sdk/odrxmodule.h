#pragma once

#include "odalloc.h"
#include "odrxobject.h"
#include "odstring.h"

#include <atomic>

// The operating system's handle of a loaded library.
using OdRxModuleHandle = void*;

// A loadable SDK module. The host calls initApp once after loading and uninitApp once before unloading.
class OdRxModule : public OdRxObject
{
public:
    virtual void initApp() = 0;
    virtual void uninitApp() = 0;
    virtual OdRxModuleHandle sysData() = 0;
    virtual void deleteModule() = 0;
    virtual OdString moduleName() const = 0;
};

// Full path of the library file behind a handle, as the dynamic loader reports it; empty if unknown.
OdString odrxModuleFileName(OdRxModuleHandle handle);

// The wrapper the SDK puts around a module's class: an atomically counted reference count that never
// deletes, the library handle, and deletion that also clears the library's singleton pointer.
template <class T, class TBase = T> class OdRxWin32Module : public T, public OdRxHeapOperators
{
public:
    OdRxWin32Module(OdRxModuleHandle handle, OdRxModule** singleton)
        : m_handle(handle), m_singleton(singleton)
    {
    }

    void addRef() override { ++m_refs; }
    void release() override { --m_refs; }
    long numRefs() const override { return m_refs.load(); }
    OdRxModuleHandle sysData() override { return m_handle; }
    OdString moduleName() const override { return odrxModuleFileName(m_handle); }

    void deleteModule() override
    {
        *m_singleton = nullptr;
        delete this;
    }

private:
    std::atomic<int> m_refs{0};
    OdRxModuleHandle m_handle;
    OdRxModule** m_singleton;
};

// The two functions every module library exports (unmangled, looked up by name).
using OdRxCreateModuleObjectFn = OdRxModule* (*)(OdRxModuleHandle* handle);
using OdRxGetAPIVersionFn = void (*)(int& major, int& minor, int& majorBuild, int& minorBuild);
