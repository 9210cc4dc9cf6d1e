#include "entry/LockPermissionsManager.h"

#include "apply/ApplyDriver.h"
#include "apply/Rollback.h"
#include "cost/CustomActionData.h"
#include "cost/LockObjectResolution.h"
#include "entry/module.h"
#include "helper64/CreateBitUtilsHelper.h"
#include "helper64/ExtractHelper.h"
#include "msi/InstallerLog.h"
#include "msi/LockTableReader.h"
#include "msi/Properties.h"
#include "msi/Queries.h"
#include "msi/Views.h"
#include "support/platform.h"

CQxLockPermissionsManager::CQxLockPermissionsManager(MSIHANDLE hInstall) : m_hInstall(hInstall) { }

CQxLockPermissionsManager::~CQxLockPermissionsManager()
{
    m_hDatabase.reset();
    if (!m_strHelperPath.empty()) {
        RemoveHelperExecutable(m_strHelperPath);
    }
    // The apartment, the first member, ends last.
}

void CQxLockPermissionsManager::Log(const _stringx<>& message)
{
    WriteLogLine(m_hInstall, message);
}

HRESULT CQxLockPermissionsManager::CreateBitUtilsHelper(IQXBEWUtils** helper)
{
    return ::CreateBitUtilsHelper(*this, m_strHelperPath, helper);
}

UINT CQxLockPermissionsManager::RunCost()
{
    // Only costing reads the database: a deferred action has none.
    m_hDatabase.reset(::MsiGetActiveDatabase(m_hInstall));
    if (!m_hDatabase) {
        Log(L"Failed to open the installation's database");
        return ERROR_INSTALL_FAILURE;
    }
    // 0 is a temporary table and counts as present; 2 and above mean none.
    if (::MsiDatabaseIsTablePersistentW(m_hDatabase.get(), g_szLockTable) >= MSICONDITION_NONE) {
        Log(L"Qelmora permissions table not present, skipping action...");
        return ERROR_SUCCESS;
    }
    ::GetAllPermissionsItems(Session(), m_allPermissionsItems);
    try {
        BuildFinalPermissionsItems();
    } catch (const qx::installer_error&) {
        throw; // a failed installer call ends the action where it is caught
    } catch (const qx::error& failure) {
        return StepFailed(failure, L"RunCost: BuildFinalPermissionsItems returned status %x\n");
    }
    CheckMsiResult(::MsiSetPropertyW(m_hInstall, kInstallDataProperty, m_strCustomActionData), L"MsiSetProperty",
                   kInstallDataProperty);
    CheckMsiResult(::MsiSetPropertyW(m_hInstall, kRollbackDataProperty, m_strRollbackData), L"MsiSetProperty",
                   kRollbackDataProperty);
    return ERROR_SUCCESS;
}

UINT CQxLockPermissionsManager::RunInstall()
{
    try {
        if (!GetItemsFromCustomActionData()) {
            return ERROR_SUCCESS; // nothing to apply; the reader has logged why
        }
    } catch (const qx::installer_error&) {
        throw;
    } catch (const qx::error& failure) {
        return StepFailed(failure, L"Error returned from GetItemsFromCustomActionData: 0x%08x");
    }
    if (!ApplyPermissionsItems()) {
        Log(FormatText(L"Error returned from ApplyPermissionsItems: 0x%08x", ERROR_INSTALL_FAILURE));
        return ERROR_INSTALL_FAILURE;
    }
    return ERROR_SUCCESS;
}

UINT CQxLockPermissionsManager::StepFailed(const qx::error& failure, const wchar_t* statusLine)
{
    if (!failure.message().empty()) {
        Log(failure.message());
    }
    Log(FormatText(statusLine, failure.code()));
    return ERROR_INSTALL_FAILURE;
}

void CQxLockPermissionsManager::BuildFinalPermissionsItems()
{
    // Each object's list is captured as the record is written, before anything
    // changes it, with no installer query of its own. A row that fails leaves
    // nothing to store.
    CAccessListCapture capture(*this, *this);
    ::BuildFinalPermissionsItems(Session(), m_allPermissionsItems, m_strCustomActionData,
                                 [&capture](const PermissionsItem& item) { capture.Capture(item); });
    m_strRollbackData = capture.Data();
}

bool CQxLockPermissionsManager::GetItemsFromCustomActionData()
{
    m_strCustomActionData = GetProperty(m_hInstall, L"CustomActionData");
    // An empty text is the reader's to report; nothing is prepared for it.
    if (!m_strCustomActionData.empty()) {
        m_strSystemDirectory = qx::system_directory();
        // Only a 32-bit library on 64-bit Windows needs the helper for the native registry view.
        if (qx::running_on_wow64()) {
            m_strHelperPath = ExtractHelperExecutable(*this, qx::g_hModule);
        }
    }
    return ParseCustomActionData(m_strCustomActionData, m_finalPermissionsItems, *this);
}

UINT CQxLockPermissionsManager::RunRollback()
{
    m_strCustomActionData = GetProperty(m_hInstall, L"CustomActionData");
    if (m_strCustomActionData.empty()) {
        Log(L"No access lists to restore. Skipping action...");
        return ERROR_SUCCESS;
    }
    RestoreAccessLists(*this, *this, m_strCustomActionData);
    return ERROR_SUCCESS;
}

bool CQxLockPermissionsManager::ApplyPermissionsItems()
{
    const ApplySteps steps = {[this](PreparedRow& row) { PrepareRow(row); },
                              [this](const std::vector<PreparedRow>& rows) { ApplyObject(rows); }};
    return ::ApplyPermissionsItems(m_hInstall, *this, m_finalPermissionsItems, m_strSystemDirectory, steps);
}
