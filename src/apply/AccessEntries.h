// One explicit access entry per item, merged into the object's existing DACL:
// the in-process apply path, shared by the library and the helper program.
#pragma once

#include <windows.h>
#include <accctrl.h>

#include "apply/SecurityFunctions.h"
#include "cost/PermissionsItem.h"
#include "support/log_sink.h"

// Fills the entry from the item, then resolves its trustee's SID into it (released
// by the caller with LocalFree): 0, or the resolution's code with the entry's
// access and inheritance filled all the same.
DWORD BuildExplicitAccess(CSecurityFunctions& security, qx::log_sink& log, const PermissionsItem& item,
                          EXPLICIT_ACCESS_W& entry);
// Merges the entry into the DACL of the item's object and writes the list back.
DWORD UpdateObjectSecurity(CSecurityFunctions& security, qx::log_sink& log, const PermissionsItem& item,
                           EXPLICIT_ACCESS_W* entry);
// Both for one item, with the SID released on every path: 0 or the failure's code.
DWORD ApplyItemInProcess(CSecurityFunctions& security, qx::log_sink& log, const PermissionsItem& item);
