// Scoped owners of the COM and system allocations that the library hands around:
// interface pointers and BSTRs (LocalAlloc blocks: local_holder.h).
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "support/local_holder.h"

namespace qx {

// Owns one reference of an interface pointer.
template <class Interface>
class com_ptr {
public:
    com_ptr() noexcept = default;
    com_ptr(const com_ptr&) = delete;
    com_ptr& operator=(const com_ptr&) = delete;
    ~com_ptr() { reset(); }

    Interface* get() const noexcept { return m_p; }
    Interface* operator->() const noexcept { return m_p; }
    explicit operator bool() const noexcept { return m_p != nullptr; }
    // Address for an out-parameter; releases what the holder had.
    Interface** put() noexcept
    {
        reset();
        return &m_p;
    }
    void reset() noexcept
    {
        if (m_p) {
            m_p->Release();
            m_p = nullptr;
        }
    }

private:
    Interface* m_p = nullptr;
};

// Owns a BSTR.
class bstr_holder {
public:
    bstr_holder() noexcept = default;
    bstr_holder(const bstr_holder&) = delete;
    bstr_holder& operator=(const bstr_holder&) = delete;
    ~bstr_holder() { ::SysFreeString(m_b); }

    BSTR get() const noexcept { return m_b; }
    UINT length() const noexcept { return ::SysStringLen(m_b); }
    BSTR* put() noexcept
    {
        ::SysFreeString(m_b);
        m_b = nullptr;
        return &m_b;
    }

private:
    BSTR m_b = nullptr;
};


} // namespace qx
