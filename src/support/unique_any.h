// One owner for every resource the library holds: a value of type T that Close
// gives back, and a value, Invalid, that means "nothing held". Each kind of
// resource is a one-line alias below (installer handles: msi/MsiHandle.h; COM
// interface pointers: support/com_ptr.h).
//
// Giving a resource back leaves the thread's last-error code as it was: holders
// go out of scope between a failed call and the GetLastError() that reports it.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <rpc.h>

#include <cstdint>
#include <type_traits>

namespace qx {

template <class T, auto Close, std::intptr_t Invalid = 0> class unique_any {
public:
    static T invalid() noexcept
    {
        if constexpr (std::is_pointer<T>::value) {
            return reinterpret_cast<T>(Invalid);
        } else {
            return static_cast<T>(Invalid);
        }
    }

    unique_any() noexcept = default;
    explicit unique_any(T value) noexcept : m_value(value) { }
    unique_any(const unique_any&) = delete;
    unique_any& operator=(const unique_any&) = delete;
    unique_any(unique_any&& other) noexcept : m_value(other.release()) { }
    unique_any& operator=(unique_any&& other) noexcept
    {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    ~unique_any() { reset(); }

    T get() const noexcept { return m_value; }
    explicit operator bool() const noexcept { return m_value != invalid(); }

    template <class P = T, std::enable_if_t<std::is_pointer<P>::value, int> = 0> P operator->() const noexcept
    {
        return m_value;
    }

    // The address for an out-parameter; whatever was held is given back first.
    T* put() noexcept
    {
        reset();
        return &m_value;
    }

    // Hands the value over to the caller, who gives it back.
    T release() noexcept
    {
        T value = m_value;
        m_value = invalid();
        return value;
    }

    void reset(T value = invalid()) noexcept
    {
        if (m_value != invalid() && m_value != value) {
            const DWORD lastError = ::GetLastError();
            Close(m_value);
            ::SetLastError(lastError);
        }
        m_value = value;
    }

private:
    T m_value = invalid();
};

namespace detail {

inline void free_rpc_string(RPC_WSTR text) noexcept
{
    ::RpcStringFreeW(&text);
}

} // namespace detail

// Kernel handles that are null when there is none (processes, threads, tokens, events).
using unique_handle = unique_any<HANDLE, &::CloseHandle>;
// Kernel handles that are INVALID_HANDLE_VALUE when there is none (files, snapshots).
using unique_file = unique_any<HANDLE, &::CloseHandle, -1>;
using unique_find = unique_any<HANDLE, &::FindClose, -1>;
// Memory the system hands out for LocalFree: SIDs, access lists, descriptors, texts.
template <class T = void> using unique_local = unique_any<T*, &::LocalFree>;
// A SID from AllocateAndInitializeSid.
using unique_sid = unique_any<PSID, &::FreeSid>;
using unique_hkey = unique_any<HKEY, &::RegCloseKey>;
using unique_hmodule = unique_any<HMODULE, &::FreeLibrary>;
using unique_bstr = unique_any<BSTR, &::SysFreeString>;
using unique_rpc_string = unique_any<RPC_WSTR, &detail::free_rpc_string>;

} // namespace qx
