// Owners for the system allocations the support library makes, so that every path
// releases them.
#pragma once

#include <windows.h>

#include <memory>

namespace qx {

struct local_free {
    void operator()(void* block) const noexcept { ::LocalFree(block); }
};

struct sid_free {
    void operator()(void* sid) const noexcept { ::FreeSid(sid); }
};

struct handle_close {
    void operator()(HANDLE handle) const noexcept { ::CloseHandle(handle); }
};

// Memory from LocalAlloc or from functions that allocate with it.
template <class T>
using local_ptr = std::unique_ptr<T, local_free>;

// A SID from AllocateAndInitializeSid.
using sid_ptr = std::unique_ptr<void, sid_free>;

// A kernel handle that CloseHandle releases (not INVALID_HANDLE_VALUE-style handles).
using handle_ptr = std::unique_ptr<void, handle_close>;

// A built-in group SID of the NT authority (S-1-5-32-rid); null on failure.
inline sid_ptr builtin_group_sid(DWORD rid)
{
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID sid = nullptr;
    if (!::AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, rid, 0, 0, 0, 0, 0, 0, &sid)) {
        return sid_ptr();
    }
    return sid_ptr(sid);
}

} // namespace qx
