// Reads the package's QXLockPermissions table.
#pragma once

#include <windows.h>

#include <vector>

#include "msi/InstallerSession.h"
#include "msi/LockPermissionsRow.h"

// Appends every row of the lock table to rows, in the view's order, with the
// account columns expanded through the session and the condition (a seventh
// column named Condition, when the table has one) as written; nothing when there
// is no table. Installer failures throw qx::installer_error.
void GetAllPermissionsItems(const InstallerSession& session, std::vector<LockPermissionsRow>& rows);
