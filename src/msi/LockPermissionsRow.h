// One row of the QXLockPermissions table as the lock table reader stores it. The
// row names its object only by a key into another installer table; costing
// resolves it into a permission item (cost/PermissionsItem.h).
#pragma once

#include <windows.h>

#include "support/stringx.h"

struct LockPermissionsRow {
    _stringx<> m_strLockObject; // key into the table named by m_strTable
    _stringx<> m_strTable;      // "File", "CreateFolder", "Registry" or "ServiceInstall", any case
    _stringx<> m_strDomain;
    _stringx<> m_strUser;
    DWORD m_dwPermission = 0;
    DWORD m_dwFlags = 0;       // the table's flags; costing ORs the component's in
    _stringx<> m_strCondition; // empty when the table has no Condition column, or the row none
};
