// Scoped owner of memory that the system hands out for LocalFree: SIDs,
// access-control lists and security descriptors.
#pragma once

#include <windows.h>

namespace qx {

template <class T = void>
class local_holder {
public:
    local_holder() noexcept = default;
    explicit local_holder(T* pointer) noexcept : m_p(pointer) {}
    local_holder(const local_holder&) = delete;
    local_holder& operator=(const local_holder&) = delete;
    local_holder(local_holder&& other) noexcept : m_p(other.release()) {}
    local_holder& operator=(local_holder&& other) noexcept
    {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    ~local_holder() { reset(); }

    T* get() const noexcept { return m_p; }
    T* operator->() const noexcept { return m_p; }
    explicit operator bool() const noexcept { return m_p != nullptr; }

    // Address for an out-parameter; whatever was held is released first.
    T** put() noexcept
    {
        reset();
        return &m_p;
    }

    T* release() noexcept
    {
        T* pointer = m_p;
        m_p = nullptr;
        return pointer;
    }

    // Releasing leaves the last-error code alone: callers free their buffers
    // between a failed call and the GetLastError() that reports it.
    void reset(T* pointer = nullptr) noexcept
    {
        if (m_p && m_p != pointer) {
            DWORD lastError = ::GetLastError();
            ::LocalFree(m_p);
            ::SetLastError(lastError);
        }
        m_p = pointer;
    }

private:
    T* m_p = nullptr;
};

} // namespace qx
