// Reads the package's QXLockPermissions table.
#pragma once

#include <windows.h>

#include <vector>

#include "msi/InstallerSession.h"
#include "msi/LockPermissionsRow.h"

// Appends every row of the lock table to rows, in the view's order, with the
// account columns expanded through the session and the condition (a seventh
// column named Condition, when the table has one) as written. 0 on every path that returns
// (nothing appended when there is no table); installer failures throw
// qx::installer_error.
DWORD GetAllPermissionsItems(const InstallerSession& session, std::vector<LockPermissionsRow>& rows);
