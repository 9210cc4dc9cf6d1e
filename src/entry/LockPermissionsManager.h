// The context of one custom action call: session and database handles, the
// custom action data text, the row and item lists, and the installation log.
#pragma once

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <vector>

#include "cost/PermissionsItem.h"
#include "entry/SecureObject.h"
#include "support/stringx.h"

class CQxLockPermissionsManager : public CQXSecureObject {
public:
    explicit CQxLockPermissionsManager(MSIHANDLE hInstall);
    ~CQxLockPermissionsManager() override;

    void Log(const _stringx<>& message) override;
    // The log line itself, for callers that have a session but no manager.
    static void WriteLogLine(MSIHANDLE hInstall, const _stringx<>& message) noexcept;
    HRESULT CreateBitUtilsHelper(IQXBEWUtils** helper) override;

    // Drivers of the two custom actions; 0 or 1603.
    UINT RunCost();
    UINT RunInstall();

    // Installer text and properties.
    _stringx<> FormatInstallerText(const _stringx<>& text);
    _stringx<> GetProperty(const wchar_t* name);

    // Costing.
    DWORD GetAllPermissionsItems();
    DWORD BuildFinalPermissionsItems();
    bool QueryComponent64Bit(const _stringx<>& component);
    // False drops the row. When the installer cannot tell the component's states,
    // *status (if given) receives its error and costing stops.
    bool QueryComponentInstalling(const _stringx<>& component, DWORD* status = nullptr);
    // One branch per lock table word; each flags and filters the row's component and
    // appends the row's record. 0, or the status that ends the pass.
    DWORD ResolveFileRow(LockPermissionsRow& row);
    DWORD ResolveCreateFolderRow(LockPermissionsRow& row);
    DWORD ResolveRegistryRow(LockPermissionsRow& row);
    bool FlagAndFilterComponent(LockPermissionsRow& row, const _stringx<>& component, DWORD& status);
    _stringx<> GetTargetPath(const _stringx<>& directory);
    _stringx<> CurrentUserRootWord();
    void AddItemToCustomActionData(const _stringx<>& objectName, const _stringx<>& table, const _stringx<>& domain,
                                   const _stringx<>& user, DWORD permission, DWORD flags);

    // Install time.
    DWORD GetItemsFromCustomActionData();
    DWORD ApplyPermissionsItems();
    int PromptApplyError(UINT messageId, DWORD error, const PermissionsItem& item);

    MSIHANDLE m_hInstall;  // not owned
    MSIHANDLE m_hDatabase; // owned
    _stringx<> m_strCustomActionData;
    _stringx<> m_strHelperPath;
    _stringx<> m_strSystemDirectory;
    std::vector<LockPermissionsRow> m_allPermissionsItems;
    std::vector<PermissionsItem> m_finalPermissionsItems;

private:
    // Deletes the extracted helper and, once it is gone, its folder.
    void RemoveHelperFile() noexcept;
};
