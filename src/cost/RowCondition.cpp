#include "cost/RowCondition.h"

#include <msiquery.h>

DWORD EvaluateRowCondition(const InstallerSession& session, const LockPermissionsRow& row, bool& holds)
{
    holds = true;
    if (row.m_strCondition.empty()) {
        return ERROR_SUCCESS;
    }
    const MSICONDITION result = ::MsiEvaluateConditionW(session.hInstall, row.m_strCondition);
    if (result != MSICONDITION_FALSE && result != MSICONDITION_ERROR) {
        return ERROR_SUCCESS; // true, or nothing to evaluate (blanks)
    }
    // The row as an author finds it in the table: its key, its table and its account.
    _stringx<> account = row.m_strDomain;
    if (!account.empty()) {
        account += L"\\";
    }
    account += row.m_strUser;
    if (result == MSICONDITION_ERROR) {
        session.log.Log(FormatText(L"Condition '%s' of lock row '%s' (table %s, account '%s') cannot be evaluated",
                                   row.m_strCondition.c_str(), row.m_strLockObject.c_str(), row.m_strTable.c_str(),
                                   account.c_str()));
        return ERROR_INSTALL_FAILURE;
    }
    session.log.Log(FormatText(L"Condition '%s' of lock row '%s' (table %s, account '%s') is false, skipping the row",
                               row.m_strCondition.c_str(), row.m_strLockObject.c_str(), row.m_strTable.c_str(),
                               account.c_str()));
    holds = false;
    return ERROR_SUCCESS;
}
