// Base of the permissions manager: the security entry points, resolved once from
// advapi32, and the operations that need nothing but them (account resolution,
// access entries, applying one item).
#pragma once

#include <windows.h>
#include <accctrl.h>
#include <aclapi.h>
#include <sddl.h>

#include "cost/PermissionsItem.h"
#include "support/stringx.h"

struct IQXBEWUtils;

class CQXSecureObject {
public:
    CQXSecureObject();
    CQXSecureObject(const CQXSecureObject&) = delete;
    CQXSecureObject& operator=(const CQXSecureObject&) = delete;
    virtual ~CQXSecureObject();

    // One line into the installation log; the base has no log.
    virtual void Log(const _stringx<>& message);
    // Creates, starts and hands back the proxy of the 64-bit helper process.
    virtual HRESULT CreateBitUtilsHelper(IQXBEWUtils** helper) = 0;

    // Forwarding members: each calls its entry point when it was resolved and
    // otherwise fails (127 or FALSE) without calling anything or touching the last error.
    BOOL LookupAccountNameW(LPCWSTR systemName, LPCWSTR accountName, PSID sid, LPDWORD sidSize,
                            LPWSTR referencedDomain, LPDWORD domainSize, PSID_NAME_USE use);
    BOOL IsValidSid(PSID sid);
    BOOL ConvertStringSidToSidW(LPCWSTR text, PSID* sid);
    DWORD GetNamedSecurityInfoW(LPWSTR objectName, SE_OBJECT_TYPE objectType, SECURITY_INFORMATION information,
                                PSID* owner, PSID* group, PACL* dacl, PACL* sacl,
                                PSECURITY_DESCRIPTOR* descriptor);
    DWORD SetEntriesInAclW(ULONG count, PEXPLICIT_ACCESS_W entries, PACL oldAcl, PACL* newAcl);
    DWORD SetNamedSecurityInfoW(LPWSTR objectName, SE_OBJECT_TYPE objectType, SECURITY_INFORMATION information,
                                PSID owner, PSID group, PACL dacl, PACL sacl);
    BOOL AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY authority, BYTE count, DWORD sub0, DWORD sub1,
                                  DWORD sub2, DWORD sub3, DWORD sub4, DWORD sub5, DWORD sub6, DWORD sub7,
                                  PSID* sid);
    BOOL CreateWellKnownSid(WELL_KNOWN_SID_TYPE type, PSID domainSid, PSID sid, DWORD* size);
    BOOL CopySid(DWORD destinationSize, PSID destination, PSID source);
    void FreeSid(PSID sid);

    // Account resolution. Every SID handed out is released by the receiver with LocalFree.
    DWORD ResolveItemSid(const _stringx<>& domain, const _stringx<>& user, PSID* sid);
    bool LookupWellKnownSid(const _stringx<>& name, PSID* sid);
    PSID ResolveSidForAccountName(const _stringx<>& name);

    // Access entries and the merge into the object's DACL.
    DWORD BuildExplicitAccess(const PermissionsItem& item, EXPLICIT_ACCESS_W& entry);
    DWORD UpdateObjectSecurity(const PermissionsItem& item, EXPLICIT_ACCESS_W* entry);

    // Applies one item, in this process or through the 64-bit helper.
    DWORD ApplyItem(const PermissionsItem& item);

    // The entry-point table; null where resolution failed. Tests replace entries
    // to inject failures or to record calls.
    decltype(&::LookupAccountNameW) m_pfnLookupAccountNameW = nullptr;
    decltype(&::IsValidSid) m_pfnIsValidSid = nullptr;
    decltype(&::GetNamedSecurityInfoW) m_pfnGetNamedSecurityInfoW = nullptr;
    decltype(&::ConvertStringSidToSidW) m_pfnConvertStringSidToSidW = nullptr;
    decltype(&::SetNamedSecurityInfoW) m_pfnSetNamedSecurityInfoW = nullptr;
    decltype(&::SetEntriesInAclW) m_pfnSetEntriesInAclW = nullptr;
    decltype(&::AllocateAndInitializeSid) m_pfnAllocateAndInitializeSid = nullptr;
    decltype(&::CreateWellKnownSid) m_pfnCreateWellKnownSid = nullptr;
    decltype(&::CopySid) m_pfnCopySid = nullptr;
    decltype(&::FreeSid) m_pfnFreeSid = nullptr;
};
