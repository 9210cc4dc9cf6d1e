#include "cost/RowCondition.h"

#include <msiquery.h>

#include "support/error.h"

bool RowConditionHolds(const InstallerSession& session, const LockPermissionsRow& row)
{
    if (row.m_strCondition.empty()) {
        return true;
    }
    const MSICONDITION result = ::MsiEvaluateConditionW(session.hInstall, row.m_strCondition);
    if (result != MSICONDITION_FALSE && result != MSICONDITION_ERROR) {
        return true; // true, or nothing to evaluate (blanks)
    }
    // The row as an author finds it in the table: its key, its table and its account.
    _stringx<> account = row.m_strDomain;
    if (!account.empty()) {
        account += L"\\";
    }
    account += row.m_strUser;
    if (result == MSICONDITION_ERROR) {
        throw qx::error(ERROR_INSTALL_FAILURE,
                        FormatText(L"Condition '%s' of lock row '%s' (table %s, account '%s') cannot be evaluated",
                                   row.m_strCondition.c_str(), row.m_strLockObject.c_str(), row.m_strTable.c_str(),
                                   account.c_str()));
    }
    session.log.Log(FormatText(L"Condition '%s' of lock row '%s' (table %s, account '%s') is false, skipping the row",
                               row.m_strCondition.c_str(), row.m_strLockObject.c_str(), row.m_strTable.c_str(),
                               account.c_str()));
    return false;
}
