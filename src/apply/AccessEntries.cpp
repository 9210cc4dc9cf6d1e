// One explicit access entry per item, merged into the object's existing DACL.
// Only the DACL is read and written, and no protection flag is passed, so the
// object's inheritance settings and all other trustees' entries stay as they are.
#include "entry/SecureObject.h"

#include <cstring>

#include "support/local_holder.h"

namespace {

DWORD InheritanceFor(const PermissionsItem& item)
{
    if ((item.m_dwFlags & LOCKPERM_NO_PROPAGATE) != 0) {
        return NO_PROPAGATE_INHERIT_ACE;
    }
    bool container = item.m_objectType == SE_REGISTRY_KEY ||
                     (item.m_objectType == SE_FILE_OBJECT && item.m_kind == LockObjectKind::CreateFolder);
    return container ? (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE) : NO_INHERITANCE;
}

} // namespace

DWORD CQXSecureObject::BuildExplicitAccess(const PermissionsItem& item, EXPLICIT_ACCESS_W& entry)
{
    std::memset(&entry, 0, sizeof(entry));
    entry.grfAccessPermissions = item.m_dwPermission;
    // LOCKPERM_DENY is bit 0, so it turns SET_ACCESS (2) into DENY_ACCESS (3).
    entry.grfAccessMode = static_cast<ACCESS_MODE>((item.m_dwFlags & LOCKPERM_DENY) | SET_ACCESS);
    entry.grfInheritance = InheritanceFor(item);
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
    // The named-security functions take a writable name.
    _stringx<> objectName(item.m_strObjectName);
    Log(FormatText(L"Getting existing security descriptor for '%s'", item.m_strObjectName.c_str()));
    _stringx<>::string_buffer nameBuffer(objectName);
    LPWSTR name = nameBuffer.get();

    qx::local_holder<void> descriptor;
    PACL oldDacl = nullptr; // points into the descriptor; null for a null DACL
    DWORD result = GetNamedSecurityInfoW(name, item.m_objectType, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                         &oldDacl, nullptr, descriptor.put());
    if (result != ERROR_SUCCESS) {
        Log(FormatText(L"Failed to obtain existing security descriptor, last error: 0x%08x", result));
        return result;
    }

    qx::local_holder<ACL> newDacl;
    result = SetEntriesInAclW(1, entry, oldDacl, newDacl.put());
    if (result != ERROR_SUCCESS) {
        Log(FormatText(L"Failed to set explicit access for new ACL, last error: 0x%08x", result));
        return result;
    }

    Log(FormatText(L"Setting new security descriptor for '%s'", item.m_strObjectName.c_str()));
    result = SetNamedSecurityInfoW(name, item.m_objectType, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                   newDacl.get(), nullptr);
    if (result != ERROR_SUCCESS) {
        Log(FormatText(L"Failed to set new security descriptor, last error: 0x%08x", result));
    }
    return result;
}
