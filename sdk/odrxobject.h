#pragma once

#include <atomic>

class OdRxClass;

// Base of every SDK object: reference counted through virtual addRef/release.
class OdRxObject
{
public:
    virtual ~OdRxObject() = default;
    virtual void addRef() = 0;
    virtual void release() = 0;
    virtual long numRefs() const = 0;
    // The object's own class descriptor; null for classes that have none.
    virtual const OdRxClass* isA() const { return nullptr; }
};

// A heap object whose last release deletes it.
template <class T> class OdRxObjectImpl : public T
{
public:
    using T::T;
    void addRef() override { ++m_refs; }
    void release() override
    {
        if (--m_refs == 0)
            delete this;
    }
    long numRefs() const override { return m_refs; }

    // Creates the object with one reference held by the returned smart pointer's adoption.
    template <class... A> static T* createObject(A&&... args)
    {
        return new OdRxObjectImpl<T>(std::forward<A>(args)...);
    }

private:
    std::atomic<long> m_refs{0};
};

// An object whose lifetime its owner manages: reference counting does nothing, so the host's
// reactor lists never delete it.
template <class T> class OdStaticRxObject : public T
{
public:
    using T::T;
    void addRef() override {}
    void release() override {}
    long numRefs() const override { return 1; }
};
