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

// The lock table's optional seventh column, the row's condition.
inline constexpr UINT kLockConditionField = 7;

// Whether the lock table of the executed view carries the rows' conditions: tables
// written before the Condition column have six columns, and a seventh of another
// name is the author's own and is left alone.
bool HasConditionColumn(MSIHANDLE view);
