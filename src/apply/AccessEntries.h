// One explicit access entry per item, merged into the object's existing DACL:
// the in-process apply path, shared by the library and the helper program.
#pragma once

#include <windows.h>
#include <accctrl.h>

#include "apply/SecurityFunctions.h"
#include "cost/PermissionsItem.h"
#include "support/log_sink.h"

// The entry for the item, for the trustee sid (which the entry does not own).
EXPLICIT_ACCESS_W BuildExplicitAccess(const PermissionsItem& item, PSID sid);
// Merges the entry into the DACL of the item's object and writes the list back;
// a failure throws qx::error with its line and code.
void UpdateObjectSecurity(CSecurityFunctions& security, qx::log_sink& log, const PermissionsItem& item,
                          EXPLICIT_ACCESS_W* entry);
// Both for one item, the account resolved first; throws as they do.
void ApplyItemInProcess(CSecurityFunctions& security, qx::log_sink& log, const PermissionsItem& item);
