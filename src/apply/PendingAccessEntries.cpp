// Stand-ins until the install-time subsystem lands (branch apply); removed with it.
// Enough of account resolution and the DACL merge for the 64-bit helper to apply
// items: string SIDs and name lookup only, no well-known account table.
#include "entry/SecureObject.h"

DWORD CQXSecureObject::ResolveItemSid(const _stringx<>& domain, const _stringx<>& user, PSID* sid)
{
    if (user.find(L"S-") == 0) {
        PSID converted = nullptr;
        if (ConvertStringSidToSidW(user.c_str(), &converted) && IsValidSid(converted)) {
            *sid = converted;
            return ERROR_SUCCESS;
        }
        ::LocalFree(converted);
    }
    _stringx<> name = domain;
    if (!name.empty() && !user.empty()) {
        name += L"\\";
    }
    name += user;
    PSID buffer = ::LocalAlloc(LPTR, 260);
    if (!buffer) {
        return ::GetLastError();
    }
    DWORD sidSize = 260;
    wchar_t referenced[260] = {};
    DWORD domainSize = 260;
    SID_NAME_USE use = SidTypeUnknown;
    if (!name.empty() && LookupAccountNameW(nullptr, name.c_str(), buffer, &sidSize, referenced, &domainSize, &use)
        && IsValidSid(buffer)) {
        *sid = buffer;
        return ERROR_SUCCESS;
    }
    DWORD error = ::GetLastError();
    ::LocalFree(buffer);
    return error ? error : ERROR_NONE_MAPPED;
}

DWORD CQXSecureObject::BuildExplicitAccess(const PermissionsItem& item, EXPLICIT_ACCESS_W& entry)
{
    entry.grfAccessPermissions = item.m_dwPermission;
    entry.grfAccessMode = static_cast<ACCESS_MODE>((item.m_dwFlags & LOCKPERM_DENY) | SET_ACCESS);
    if (item.m_dwFlags & LOCKPERM_NO_PROPAGATE) {
        entry.grfInheritance = NO_PROPAGATE_INHERIT_ACE;
    } else if (item.m_objectType == SE_REGISTRY_KEY
               || (item.m_objectType == SE_FILE_OBJECT && item.m_kind == LockObjectKind::CreateFolder)) {
        entry.grfInheritance = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    } else {
        entry.grfInheritance = NO_INHERITANCE;
    }
    entry.Trustee.pMultipleTrustee = nullptr;
    entry.Trustee.MultipleTrusteeOperation = NO_MULTIPLE_TRUSTEE;
    entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    entry.Trustee.TrusteeType = TRUSTEE_IS_UNKNOWN;
    PSID sid = nullptr;
    DWORD result = ResolveItemSid(item.m_strDomain, item.m_strUser, &sid);
    entry.Trustee.ptstrName = static_cast<LPWSTR>(sid);
    return result;
}

DWORD CQXSecureObject::UpdateObjectSecurity(const PermissionsItem& item, EXPLICIT_ACCESS_W* entry)
{
    _stringx<> name = item.m_strObjectName;
    _stringx<>::string_buffer buffer(name);
    Log(FormatText(L"Getting existing security descriptor for '%s'", item.m_strObjectName.c_str()));
    PACL oldAcl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD code = GetNamedSecurityInfoW(buffer.get(), item.m_objectType, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                       &oldAcl, nullptr, &descriptor);
    if (code != ERROR_SUCCESS) {
        Log(FormatText(L"Failed to obtain existing security descriptor, last error: 0x%08x", code));
        return code;
    }
    PACL newAcl = nullptr;
    code = SetEntriesInAclW(1, entry, oldAcl, &newAcl);
    if (code == ERROR_SUCCESS) {
        Log(FormatText(L"Setting new security descriptor for '%s'", item.m_strObjectName.c_str()));
        code = SetNamedSecurityInfoW(buffer.get(), item.m_objectType, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                     newAcl, nullptr);
        if (code != ERROR_SUCCESS) {
            Log(FormatText(L"Failed to set new security descriptor, last error: 0x%08x", code));
        }
    } else {
        Log(FormatText(L"Failed to set explicit access for new ACL, last error: 0x%08x", code));
    }
    ::LocalFree(newAcl);
    ::LocalFree(descriptor);
    return code;
}
