// Owns one reference of a COM interface pointer. Movable, not copyable: a second
// reference is taken explicitly (QueryInterface, AddRef), never by accident.
// Like the other holders (support/unique_any.h), releasing leaves the thread's
// last-error code as it was.
#pragma once

#include <windows.h>
#include <unknwn.h>

namespace qx {

template <class Interface> class com_ptr {
public:
    com_ptr() noexcept = default;
    // Takes over a reference the caller holds.
    explicit com_ptr(Interface* pointer) noexcept : m_p(pointer) { }
    com_ptr(const com_ptr&) = delete;
    com_ptr& operator=(const com_ptr&) = delete;
    com_ptr(com_ptr&& other) noexcept : m_p(other.release()) { }
    com_ptr& operator=(com_ptr&& other) noexcept
    {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    ~com_ptr() { reset(); }

    Interface* get() const noexcept { return m_p; }
    Interface* operator->() const noexcept { return m_p; }
    explicit operator bool() const noexcept { return m_p != nullptr; }

    // The address for an out-parameter; the reference held is released first.
    Interface** put() noexcept
    {
        reset();
        return &m_p;
    }
    // The same, for calls that hand out any interface (QueryInterface).
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

    // Hands the reference over to the caller.
    Interface* release() noexcept
    {
        Interface* pointer = m_p;
        m_p = nullptr;
        return pointer;
    }

    void reset(Interface* pointer = nullptr) noexcept
    {
        Interface* old = m_p;
        m_p = pointer;
        if (old) {
            const DWORD lastError = ::GetLastError();
            old->Release();
            ::SetLastError(lastError);
        }
    }

private:
    Interface* m_p = nullptr;
};

} // namespace qx
