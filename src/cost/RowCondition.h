// The optional Condition column of a lock row: whether the row applies to this
// installation.
#pragma once

#include <windows.h>

#include "msi/InstallerSession.h"
#include "msi/LockPermissionsRow.h"

// 0 with holds set when the row's condition holds (an empty one always does) and
// cleared, with a log line, when it is false; 1603, logged, when the installer
// cannot evaluate it.
DWORD EvaluateRowCondition(const InstallerSession& session, const LockPermissionsRow& row, bool& holds);
