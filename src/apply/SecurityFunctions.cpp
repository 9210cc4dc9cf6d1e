#include "apply/SecurityFunctions.h"

namespace {

template <class Function> void Resolve(HMODULE module, const char* name, Function& field)
{
    field = reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

} // namespace

CSecurityFunctions::CSecurityFunctions()
{
    // The library imports advapi32 at load time, so the module is already there.
    HMODULE advapi = ::GetModuleHandleW(L"advapi32.dll");
    if (!advapi) {
        return;
    }
    Resolve(advapi, "LookupAccountNameW", m_pfnLookupAccountNameW);
    Resolve(advapi, "IsValidSid", m_pfnIsValidSid);
    Resolve(advapi, "ConvertStringSidToSidW", m_pfnConvertStringSidToSidW);
    Resolve(advapi, "GetNamedSecurityInfoW", m_pfnGetNamedSecurityInfoW);
    Resolve(advapi, "SetEntriesInAclW", m_pfnSetEntriesInAclW);
    Resolve(advapi, "SetNamedSecurityInfoW", m_pfnSetNamedSecurityInfoW);
    Resolve(advapi, "GetSecurityInfo", m_pfnGetSecurityInfo);
    Resolve(advapi, "SetSecurityInfo", m_pfnSetSecurityInfo);
    Resolve(advapi, "CreateWellKnownSid", m_pfnCreateWellKnownSid);
}

BOOL CSecurityFunctions::LookupAccountNameW(LPCWSTR systemName, LPCWSTR accountName, PSID sid, LPDWORD sidSize,
                                            LPWSTR referencedDomain, LPDWORD domainSize, PSID_NAME_USE use)
{
    return m_pfnLookupAccountNameW
               ? m_pfnLookupAccountNameW(systemName, accountName, sid, sidSize, referencedDomain, domainSize, use)
               : FALSE;
}

BOOL CSecurityFunctions::IsValidSid(PSID sid)
{
    return m_pfnIsValidSid ? m_pfnIsValidSid(sid) : FALSE;
}

BOOL CSecurityFunctions::ConvertStringSidToSidW(LPCWSTR text, PSID* sid)
{
    return m_pfnConvertStringSidToSidW ? m_pfnConvertStringSidToSidW(text, sid) : FALSE;
}

DWORD CSecurityFunctions::GetNamedSecurityInfoW(LPWSTR objectName, SE_OBJECT_TYPE objectType,
                                                SECURITY_INFORMATION information, PSID* owner, PSID* group, PACL* dacl,
                                                PACL* sacl, PSECURITY_DESCRIPTOR* descriptor)
{
    return m_pfnGetNamedSecurityInfoW
               ? m_pfnGetNamedSecurityInfoW(objectName, objectType, information, owner, group, dacl, sacl, descriptor)
               : ERROR_PROC_NOT_FOUND;
}

DWORD CSecurityFunctions::SetEntriesInAclW(ULONG count, PEXPLICIT_ACCESS_W entries, PACL oldAcl, PACL* newAcl)
{
    return m_pfnSetEntriesInAclW ? m_pfnSetEntriesInAclW(count, entries, oldAcl, newAcl) : ERROR_PROC_NOT_FOUND;
}

DWORD CSecurityFunctions::SetNamedSecurityInfoW(LPWSTR objectName, SE_OBJECT_TYPE objectType,
                                                SECURITY_INFORMATION information, PSID owner, PSID group, PACL dacl,
                                                PACL sacl)
{
    return m_pfnSetNamedSecurityInfoW
               ? m_pfnSetNamedSecurityInfoW(objectName, objectType, information, owner, group, dacl, sacl)
               : ERROR_PROC_NOT_FOUND;
}

DWORD CSecurityFunctions::GetSecurityInfo(HANDLE object, SE_OBJECT_TYPE objectType, SECURITY_INFORMATION information,
                                          PSID* owner, PSID* group, PACL* dacl, PACL* sacl,
                                          PSECURITY_DESCRIPTOR* descriptor)
{
    return m_pfnGetSecurityInfo
               ? m_pfnGetSecurityInfo(object, objectType, information, owner, group, dacl, sacl, descriptor)
               : ERROR_PROC_NOT_FOUND;
}

DWORD CSecurityFunctions::SetSecurityInfo(HANDLE object, SE_OBJECT_TYPE objectType, SECURITY_INFORMATION information,
                                          PSID owner, PSID group, PACL dacl, PACL sacl)
{
    return m_pfnSetSecurityInfo ? m_pfnSetSecurityInfo(object, objectType, information, owner, group, dacl, sacl)
                                : ERROR_PROC_NOT_FOUND;
}

BOOL CSecurityFunctions::CreateWellKnownSid(WELL_KNOWN_SID_TYPE type, PSID domainSid, PSID sid, DWORD* size)
{
    return m_pfnCreateWellKnownSid ? m_pfnCreateWellKnownSid(type, domainSid, sid, size) : FALSE;
}
