// The security entry points of the library, resolved once from the advapi32 that
// the process has already loaded.
#pragma once

#include <windows.h>
#include <accctrl.h>
#include <aclapi.h>
#include <sddl.h>

class CSecurityFunctions {
public:
    CSecurityFunctions();

    // Forwarding members: each calls its entry point when it was resolved and
    // otherwise fails (127 or FALSE) without calling anything or touching the last error.
    BOOL LookupAccountNameW(LPCWSTR systemName, LPCWSTR accountName, PSID sid, LPDWORD sidSize, LPWSTR referencedDomain,
                            LPDWORD domainSize, PSID_NAME_USE use);
    BOOL IsValidSid(PSID sid);
    BOOL ConvertStringSidToSidW(LPCWSTR text, PSID* sid);
    DWORD GetNamedSecurityInfoW(LPWSTR objectName, SE_OBJECT_TYPE objectType, SECURITY_INFORMATION information,
                                PSID* owner, PSID* group, PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor);
    DWORD SetEntriesInAclW(ULONG count, PEXPLICIT_ACCESS_W entries, PACL oldAcl, PACL* newAcl);
    DWORD SetNamedSecurityInfoW(LPWSTR objectName, SE_OBJECT_TYPE objectType, SECURITY_INFORMATION information,
                                PSID owner, PSID group, PACL dacl, PACL sacl);
    DWORD GetSecurityInfo(HANDLE object, SE_OBJECT_TYPE objectType, SECURITY_INFORMATION information, PSID* owner,
                          PSID* group, PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor);
    DWORD SetSecurityInfo(HANDLE object, SE_OBJECT_TYPE objectType, SECURITY_INFORMATION information, PSID owner,
                          PSID group, PACL dacl, PACL sacl);
    BOOL CreateWellKnownSid(WELL_KNOWN_SID_TYPE type, PSID domainSid, PSID sid, DWORD* size);

    // The entry-point table; null where resolution failed. Tests replace entries
    // to inject failures or to record calls.
    decltype(&::LookupAccountNameW) m_pfnLookupAccountNameW = nullptr;
    decltype(&::IsValidSid) m_pfnIsValidSid = nullptr;
    decltype(&::GetNamedSecurityInfoW) m_pfnGetNamedSecurityInfoW = nullptr;
    decltype(&::ConvertStringSidToSidW) m_pfnConvertStringSidToSidW = nullptr;
    decltype(&::SetNamedSecurityInfoW) m_pfnSetNamedSecurityInfoW = nullptr;
    decltype(&::GetSecurityInfo) m_pfnGetSecurityInfo = nullptr;
    decltype(&::SetSecurityInfo) m_pfnSetSecurityInfo = nullptr;
    decltype(&::SetEntriesInAclW) m_pfnSetEntriesInAclW = nullptr;
    decltype(&::CreateWellKnownSid) m_pfnCreateWellKnownSid = nullptr;
};
