// Scoped holder of an installer handle (view, record, database).
#pragma once

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

class CMsiHandle {
public:
    CMsiHandle() noexcept = default;
    explicit CMsiHandle(MSIHANDLE handle) noexcept : m_h(handle) {}
    CMsiHandle(const CMsiHandle&) = delete;
    CMsiHandle& operator=(const CMsiHandle&) = delete;
    CMsiHandle(CMsiHandle&& other) noexcept : m_h(other.release()) {}
    CMsiHandle& operator=(CMsiHandle&& other) noexcept
    {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    ~CMsiHandle() { reset(); }

    MSIHANDLE get() const noexcept { return m_h; }
    operator MSIHANDLE() const noexcept { return m_h; } // NOLINT(google-explicit-constructor)
    // Address for an out-parameter; the holder must be empty.
    MSIHANDLE* put() noexcept { return &m_h; }
    MSIHANDLE release() noexcept
    {
        MSIHANDLE handle = m_h;
        m_h = 0;
        return handle;
    }
    void reset(MSIHANDLE handle = 0) noexcept
    {
        if (m_h) {
            ::MsiCloseHandle(m_h);
        }
        m_h = handle;
    }

private:
    MSIHANDLE m_h = 0;
};
