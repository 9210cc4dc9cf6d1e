// Security identifiers the support library builds for itself.
#pragma once

#include <windows.h>

#include "support/unique_any.h"

namespace qx {

// A built-in group of the NT authority (S-1-5-32-rid); empty on failure.
inline unique_sid builtin_group_sid(DWORD rid)
{
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID sid = nullptr;
    if (!::AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, rid, 0, 0, 0, 0, 0, 0, &sid)) {
        return unique_sid();
    }
    return unique_sid(sid);
}

// LocalSystem (S-1-5-18); empty on failure.
inline unique_sid local_system_sid()
{
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID sid = nullptr;
    if (!::AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0, &sid)) {
        return unique_sid();
    }
    return unique_sid(sid);
}

} // namespace qx
