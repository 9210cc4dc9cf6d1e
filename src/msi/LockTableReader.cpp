#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include "entry/LockPermissionsManager.h"
#include "msi/MsiHandle.h"
#include "msi/Queries.h"
#include "msi/Views.h"

DWORD CQxLockPermissionsManager::GetAllPermissionsItems()
{
    // Temporary (0) and persistent (1) tables are read alike; 2 and 3 mean no table.
    if (::MsiDatabaseIsTablePersistentW(m_hDatabase, L"QXLockPermissions") >= MSICONDITION_NONE) {
        Log(L"QXLockPermissions table does not exist");
        return ERROR_SUCCESS;
    }

    CMsiHandle view;
    CheckMsiResult(::MsiDatabaseOpenViewW(m_hDatabase, g_strQueryLockTable, view.put()), L"MsiOpenDatabaseView");
    CheckMsiResult(::MsiViewExecute(view, 0), L"MsiViewExecute");

    CMsiHandle record;
    for (;;) {
        record.reset();
        UINT result = ::MsiViewFetch(view, record.put());
        if (result == ERROR_NO_MORE_ITEMS) {
            break;
        }
        CheckMsiResult(result, L"MsiViewFetch");

        // Columns by position; only the account columns carry installer-formatted text.
        LockPermissionsRow row;
        row.m_strLockObject = GetRecordString(record, 1);
        row.m_strTable = GetRecordString(record, 2);
        row.m_strDomain = FormatInstallerText(GetRecordString(record, 3));
        row.m_strUser = FormatInstallerText(GetRecordString(record, 4));
        row.m_dwPermission = static_cast<DWORD>(::MsiRecordGetInteger(record, 5));
        row.m_dwFlags = static_cast<DWORD>(::MsiRecordGetInteger(record, 6));
        m_allPermissionsItems.push_back(row);
    }
    return ERROR_SUCCESS;
}
