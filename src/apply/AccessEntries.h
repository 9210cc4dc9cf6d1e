// The explicit access entries of an object's rows, merged into the object's
// existing DACL: the in-process apply path, shared by the library and the helper
// program.
#pragma once

#include <windows.h>
#include <accctrl.h>

#include <vector>

#include "apply/SecurityFunctions.h"
#include "cost/PermissionsItem.h"
#include "support/log_sink.h"
#include "support/unique_any.h"

// A row ready for its object's write: the item and its account's SID (null for a
// row whose account is resolved elsewhere, by the helper).
struct PreparedRow {
    const PermissionsItem* item = nullptr;
    qx::unique_local<void> sid;
};

// The entry for the item, for the trustee sid (which the entry does not own).
EXPLICIT_ACCESS_W BuildExplicitAccess(const PermissionsItem& item, PSID sid);
// Merges the entries of rows that name one object into its DACL: one read, one
// merge, one write; the list is the one that applying the rows one by one in
// their order gives. A failure throws qx::error with its line and code.
void UpdateObjectSecurity(CSecurityFunctions& security, qx::log_sink& log, const std::vector<PreparedRow>& rows);
// One item on its own, the account resolved first; throws as they do.
void ApplyItemInProcess(CSecurityFunctions& security, qx::log_sink& log, const PermissionsItem& item);
