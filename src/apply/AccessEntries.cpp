// One explicit access entry per item, merged into the object's existing DACL.
// Only the DACL is read and written, and no protection flag is passed, so the
// object's inheritance settings and all other trustees' entries stay as they are.
#include "apply/AccessEntries.h"

#include <cstring>

#include "apply/AccountResolution.h"
#include "apply/ObjectSecurity.h"
#include "support/error.h"
#include "support/unique_any.h"

namespace {

DWORD InheritanceFor(const PermissionsItem& item)
{
    if ((item.m_dwFlags & LOCKPERM_NO_PROPAGATE) != 0) {
        return NO_PROPAGATE_INHERIT_ACE;
    }
    // Keys and folders hold objects that inherit, whichever view or type names them.
    const bool container = item.m_kind == LockObjectKind::Registry || item.m_kind == LockObjectKind::CreateFolder;
    return container ? (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE) : NO_INHERITANCE;
}

} // namespace

EXPLICIT_ACCESS_W BuildExplicitAccess(const PermissionsItem& item, PSID sid)
{
    EXPLICIT_ACCESS_W entry;
    std::memset(&entry, 0, sizeof(entry));
    entry.grfAccessPermissions = item.m_dwPermission;
    // LOCKPERM_DENY is bit 0, so it turns SET_ACCESS (2) into DENY_ACCESS (3).
    entry.grfAccessMode = static_cast<ACCESS_MODE>((item.m_dwFlags & LOCKPERM_DENY) | SET_ACCESS);
    entry.grfInheritance = InheritanceFor(item);
    entry.Trustee.pMultipleTrustee = nullptr;
    entry.Trustee.MultipleTrusteeOperation = NO_MULTIPLE_TRUSTEE;
    entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    entry.Trustee.TrusteeType = TRUSTEE_IS_UNKNOWN;
    entry.Trustee.ptstrName = static_cast<LPWSTR>(sid);
    return entry;
}

void UpdateObjectSecurity(CSecurityFunctions& security, qx::log_sink& log, const PermissionsItem& item,
                          EXPLICIT_ACCESS_W* entry)
{
    log.Log(FormatText(L"Getting existing security descriptor for '%s'", item.m_strObjectName.c_str()));
    qx::unique_local<void> descriptor;
    PACL oldDacl = nullptr; // points into the descriptor; null for a null DACL
    DWORD result = ReadObjectDacl(security, item.m_strObjectName, item.m_objectType, &oldDacl, descriptor);
    if (result != ERROR_SUCCESS) {
        throw qx::error(result,
                        FormatText(L"Failed to obtain existing security descriptor, last error: 0x%08x", result));
    }

    qx::unique_local<ACL> newDacl;
    result = security.SetEntriesInAclW(1, entry, oldDacl, newDacl.put());
    if (result != ERROR_SUCCESS) {
        throw qx::error(result, FormatText(L"Failed to set explicit access for new ACL, last error: 0x%08x", result));
    }

    log.Log(FormatText(L"Setting new security descriptor for '%s'", item.m_strObjectName.c_str()));
    result =
        WriteObjectDacl(security, item.m_strObjectName, item.m_objectType, DACL_SECURITY_INFORMATION, newDacl.get());
    if (result != ERROR_SUCCESS) {
        throw qx::error(result, FormatText(L"Failed to set new security descriptor, last error: 0x%08x", result));
    }
}

void ApplyItemInProcess(CSecurityFunctions& security, qx::log_sink& log, const PermissionsItem& item)
{
    const qx::unique_local<void> sid = ResolveItemSid(security, log, item.m_strDomain, item.m_strUser);
    EXPLICIT_ACCESS_W entry = BuildExplicitAccess(item, sid.get());
    UpdateObjectSecurity(security, log, item, &entry);
}
