#include "msi/LockTableReader.h"

#include <msiquery.h>

#include "msi/MsiHandle.h"
#include "msi/Properties.h"
#include "msi/Queries.h"
#include "msi/Views.h"

bool HasConditionColumn(MSIHANDLE view)
{
    qx::unique_msihandle names;
    CheckMsiResult(::MsiViewGetColumnInfo(view, MSICOLINFO_NAMES, names.put()), L"MsiViewGetColumnInfo");
    return ::MsiRecordGetFieldCount(names.get()) >= kLockConditionField &&
           GetRecordString(names.get(), kLockConditionField) == L"Condition";
}

void GetAllPermissionsItems(const InstallerSession& session, std::vector<LockPermissionsRow>& rows)
{
    // Temporary (0) and persistent (1) tables are read alike; 2 and 3 mean no table.
    if (::MsiDatabaseIsTablePersistentW(session.hDatabase, g_szLockTable) >= MSICONDITION_NONE) {
        session.log.Log(L"QXLockPermissions table does not exist");
        return;
    }

    qx::unique_msihandle view;
    CheckMsiResult(::MsiDatabaseOpenViewW(session.hDatabase, g_strQueryLockTable, view.put()), L"MsiOpenDatabaseView");
    CheckMsiResult(::MsiViewExecute(view.get(), 0), L"MsiViewExecute");
    const bool conditions = HasConditionColumn(view.get());

    ForEachRecord(view.get(), [&](MSIHANDLE record) {
        // Columns by position; only the account columns carry installer-formatted text.
        LockPermissionsRow row;
        row.m_strLockObject = GetRecordString(record, 1);
        row.m_strTable = GetRecordString(record, 2);
        row.m_strDomain = FormatInstallerText(session.hInstall, GetRecordString(record, 3));
        row.m_strUser = FormatInstallerText(session.hInstall, GetRecordString(record, 4));
        row.m_dwPermission = static_cast<DWORD>(::MsiRecordGetInteger(record, 5));
        row.m_dwFlags = static_cast<DWORD>(::MsiRecordGetInteger(record, 6));
        if (conditions) {
            row.m_strCondition = GetRecordString(record, kLockConditionField);
        }
        rows.push_back(row);
    });
}
