// Owners for the system allocations the support library makes, so that every path
// releases them.
#pragma once

#include <windows.h>

#include <memory>

#include "support/local_holder.h"

namespace qx {

struct sid_free {
    void operator()(void* sid) const noexcept { ::FreeSid(sid); }
};

struct handle_close {
    void operator()(HANDLE handle) const noexcept { ::CloseHandle(handle); }
};

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
