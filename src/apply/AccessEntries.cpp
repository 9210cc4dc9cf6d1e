// One explicit access entry per item, merged into the object's existing DACL.
// Only the DACL is read and written, and no protection flag is passed, so the
// object's inheritance settings and all other trustees' entries stay as they are.
#include "apply/AccessEntries.h"

#include <algorithm>
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

// The end of the run of entries from first on whose trustees are all different.
std::size_t EndOfDistinctTrustees(const std::vector<EXPLICIT_ACCESS_W>& entries, std::size_t first)
{
    std::size_t end = first + 1;
    for (; end < entries.size(); ++end) {
        for (std::size_t earlier = first; earlier < end; ++earlier) {
            if (::EqualSid(entries[earlier].Trustee.ptstrName, entries[end].Trustee.ptstrName)) {
                return end;
            }
        }
    }
    return end;
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

void UpdateObjectSecurity(CSecurityFunctions& security, qx::log_sink& log, const std::vector<PreparedRow>& rows)
{
    const PermissionsItem& object = *rows.front().item;
    log.Log(FormatText(L"Getting existing security descriptor for '%s'", object.m_strObjectName.c_str()));
    qx::unique_local<void> descriptor;
    PACL oldDacl = nullptr; // points into the descriptor; null for a null DACL
    DWORD result = ReadObjectDacl(security, object.m_strObjectName, object.m_objectType, &oldDacl, descriptor);
    if (result != ERROR_SUCCESS) {
        throw qx::error(result,
                        FormatText(L"Failed to obtain existing security descriptor, last error: 0x%08x", result));
    }

    std::vector<EXPLICIT_ACCESS_W> entries;
    entries.reserve(rows.size());
    for (const PreparedRow& row : rows) {
        entries.push_back(BuildExplicitAccess(*row.item, row.sid.get()));
    }
    // One merge for all the entries, except that an account named again starts a
    // new one on the list so far: two entries for one trustee in a single merge do
    // not replace each other as one merge after the other does. Within a merge each
    // entry goes ahead of those after it, where one merge after the other puts each
    // ahead of the earlier ones: last row first gives the list of one by one.
    qx::unique_local<ACL> newDacl;
    std::size_t first = 0;
    while (first < entries.size()) {
        const std::size_t end = EndOfDistinctTrustees(entries, first);
        std::reverse(entries.begin() + static_cast<std::ptrdiff_t>(first),
                     entries.begin() + static_cast<std::ptrdiff_t>(end));
        qx::unique_local<ACL> merged;
        result = security.SetEntriesInAclW(static_cast<ULONG>(end - first), &entries[first],
                                           first == 0 ? oldDacl : newDacl.get(), merged.put());
        if (result != ERROR_SUCCESS) {
            throw qx::error(result,
                            FormatText(L"Failed to set explicit access for new ACL, last error: 0x%08x", result));
        }
        newDacl = std::move(merged);
        first = end;
    }

    log.Log(FormatText(L"Setting new security descriptor for '%s'", object.m_strObjectName.c_str()));
    result = WriteObjectDacl(security, object.m_strObjectName, object.m_objectType, DACL_SECURITY_INFORMATION,
                             newDacl.get());
    if (result != ERROR_SUCCESS) {
        throw qx::error(result, FormatText(L"Failed to set new security descriptor, last error: 0x%08x", result));
    }
}

void ApplyItemInProcess(CSecurityFunctions& security, qx::log_sink& log, const PermissionsItem& item)
{
    std::vector<PreparedRow> rows(1);
    rows[0].item = &item;
    rows[0].sid = ResolveItemSid(security, log, item.m_strDomain, item.m_strUser);
    UpdateObjectSecurity(security, log, rows);
}
