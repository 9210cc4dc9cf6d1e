#include "entry/LockPermissionsManager.h"

#include <objbase.h>

#include "msi/MsiHandle.h"
#include "support/files.h"

namespace {

const wchar_t kLogTemplate[] = L"Qelmora [Time]: [1]";
const wchar_t kLockTable[] = L"QXLockPermissions";
const wchar_t kCustomActionDataProperty[] = L"QXLockPermissionsInstall";

const int kHelperDeleteAttempts = 5;
const DWORD kHelperDeleteWaitMs = 500;

} // namespace

CQxLockPermissionsManager::CQxLockPermissionsManager(MSIHANDLE hInstall) : m_hInstall(hInstall), m_hDatabase(0)
{
    // The helper proxy needs an apartment on this thread for the whole call.
    ::CoInitialize(nullptr);
    m_hDatabase = ::MsiGetActiveDatabase(hInstall);
}

CQxLockPermissionsManager::~CQxLockPermissionsManager()
{
    if (m_hDatabase) {
        ::MsiCloseHandle(m_hDatabase);
        m_hDatabase = 0;
    }
    if (!m_strHelperPath.empty()) {
        RemoveHelperFile();
    }
    ::CoUninitialize();
}

void CQxLockPermissionsManager::RemoveHelperFile() noexcept
{
    try {
        // The helper process may still hold its image open for a moment after it ends.
        bool deleted = false;
        for (int attempt = 0; attempt < kHelperDeleteAttempts && !deleted; ++attempt) {
            deleted = qx::delete_file(m_strHelperPath);
            ::Sleep(kHelperDeleteWaitMs);
        }
        if (!deleted) {
            return;
        }
        std::size_t slash = m_strHelperPath.rfind(L'\\');
        std::size_t forward = m_strHelperPath.rfind(L'/');
        if (forward != _stringx<>::npos && (slash == _stringx<>::npos || forward > slash)) {
            slash = forward;
        }
        if (slash != _stringx<>::npos) {
            qx::remove_directory(m_strHelperPath.substr(0, slash));
        }
    } catch (...) {
        // Clean-up failures do not change the action's result.
    }
}

void CQxLockPermissionsManager::Log(const _stringx<>& message)
{
    WriteLogLine(m_hInstall, message);
}

void CQxLockPermissionsManager::WriteLogLine(MSIHANDLE hInstall, const _stringx<>& message) noexcept
{
    CMsiHandle record(::MsiCreateRecord(2));
    if (!record) {
        return;
    }
    ::MsiRecordSetStringW(record, 0, kLogTemplate);
    ::MsiRecordSetStringW(record, 1, message);
    ::MsiProcessMessage(hInstall, INSTALLMESSAGE_INFO, record);
}

UINT CQxLockPermissionsManager::RunCost()
{
    // 0 is a temporary table and counts as present; 2 and above mean none.
    if (::MsiDatabaseIsTablePersistentW(m_hDatabase, kLockTable) >= MSICONDITION_NONE) {
        Log(L"Qelmora permissions table not present, skipping action...");
        return ERROR_SUCCESS;
    }
    DWORD status = GetAllPermissionsItems();
    if (status != ERROR_SUCCESS) {
        Log(FormatText(L"RunCost: GetAllPermissionsItems returned status %x\n", status));
        return ERROR_INSTALL_FAILURE;
    }
    status = BuildFinalPermissionsItems();
    if (status != ERROR_SUCCESS) {
        Log(FormatText(L"RunCost: BuildFinalPermissionsItems returned status %x\n", status));
        return ERROR_INSTALL_FAILURE;
    }
    ::MsiSetPropertyW(m_hInstall, kCustomActionDataProperty, m_strCustomActionData);
    return ERROR_SUCCESS;
}

UINT CQxLockPermissionsManager::RunInstall()
{
    DWORD status = GetItemsFromCustomActionData();
    if (status == ERROR_NO_MORE_ITEMS) {
        // Nothing to apply; the reader has logged why.
        return ERROR_SUCCESS;
    }
    if (status != ERROR_SUCCESS) {
        Log(FormatText(L"Error returned from GetItemsFromCustomActionData: 0x%08x", status));
        return ERROR_INSTALL_FAILURE;
    }
    status = ApplyPermissionsItems();
    if (status != ERROR_SUCCESS) {
        Log(FormatText(L"Error returned from ApplyPermissionsItems: 0x%08x", status));
        return ERROR_INSTALL_FAILURE;
    }
    return ERROR_SUCCESS;
}
