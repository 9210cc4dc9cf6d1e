// The optional Condition column of a lock row: whether the row applies to this
// installation.
#pragma once

#include <windows.h>

#include "msi/InstallerSession.h"
#include "msi/LockPermissionsRow.h"

// Whether the row's condition holds (an empty one always does); false after a log
// line. Throws qx::error (1603) when the installer cannot evaluate it.
bool RowConditionHolds(const InstallerSession& session, const LockPermissionsRow& row);
