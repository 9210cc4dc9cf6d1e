// Security identifiers the support library builds for itself, and their account names.
#pragma once

#include <windows.h>

#include <string>

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

// The SID's account on this machine, "DOMAIN\name" or "name"; empty when it has none.
inline std::wstring account_name_of(PSID sid)
{
    wchar_t name[256] = {};
    wchar_t domain[256] = {};
    DWORD nameLength = 256;
    DWORD domainLength = 256;
    SID_NAME_USE use = SidTypeUnknown;
    if (!::LookupAccountSidW(nullptr, sid, name, &nameLength, domain, &domainLength, &use) || name[0] == L'\0') {
        return std::wstring();
    }
    return domain[0] != L'\0' ? std::wstring(domain) + L"\\" + name : std::wstring(name);
}

} // namespace qx
