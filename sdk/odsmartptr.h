#pragma once

#include <utility>

// Intrusive smart pointer over addRef/release.
template <class T> class OdSmartPtr
{
public:
    OdSmartPtr() = default;
    OdSmartPtr(std::nullptr_t) {}
    OdSmartPtr(T* p) : m_p(p)
    {
        if (m_p)
            m_p->addRef();
    }
    OdSmartPtr(const OdSmartPtr& other) : OdSmartPtr(other.m_p) {}
    OdSmartPtr(OdSmartPtr&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
    ~OdSmartPtr() { release(); }

    OdSmartPtr& operator=(OdSmartPtr other) noexcept
    {
        std::swap(m_p, other.m_p);
        return *this;
    }

    void release()
    {
        if (m_p)
            std::exchange(m_p, nullptr)->release();
    }

    T* get() const { return m_p; }
    T* operator->() const { return m_p; }
    T& operator*() const { return *m_p; }
    bool isNull() const { return m_p == nullptr; }
    explicit operator bool() const { return m_p != nullptr; }

private:
    T* m_p = nullptr;
};
