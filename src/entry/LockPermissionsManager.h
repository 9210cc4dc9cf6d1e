// The context of one custom action call: session and database handles, the
// custom action data text, the row and item lists, and the installation log.
// Each step of the two actions is a short call into the layer that does it.
#pragma once

#include <windows.h>
#include <msi.h>

#include <vector>

#include "cost/PermissionsItem.h"
#include "entry/SecureObject.h"
#include "msi/InstallerSession.h"
#include "msi/LockPermissionsRow.h"
#include "msi/MsiHandle.h"
#include "support/com_apartment.h"
#include "support/error.h"
#include "support/stringx.h"

class CQxLockPermissionsManager : public CQXSecureObject {
public:
    explicit CQxLockPermissionsManager(MSIHANDLE hInstall);
    ~CQxLockPermissionsManager() override;

    void Log(const _stringx<>& message) override;
    HRESULT CreateBitUtilsHelper(IQXBEWUtils** helper) override;

    // Drivers of the custom actions: costing and installing give 0 or 1603; the
    // rollback always gives 0.
    UINT RunCost();
    UINT RunInstall();
    UINT RunRollback();

private:
    InstallerSession Session() { return {m_hInstall, m_hDatabase.get(), *this}; }

    // Costing.
    void BuildFinalPermissionsItems();
    // Install time: reads the data, prepares the install-time state and parses the
    // items; false when there are none.
    bool GetItemsFromCustomActionData();
    // False when the user chose to stop.
    bool ApplyPermissionsItems();
    // A step's reported failure: its line, the step's status line and 1603.
    UINT StepFailed(const qx::error& failure, const wchar_t* statusLine);

    // The helper proxy needs an apartment on this thread for the whole call.
    qx::com_apartment m_apartment;
    MSIHANDLE m_hInstall;             // not owned
    qx::unique_msihandle m_hDatabase; // closed first when the manager ends
    _stringx<> m_strCustomActionData;
    _stringx<> m_strRollbackData; // costing: the access lists the rollback action restores
    _stringx<> m_strHelperPath;
    _stringx<> m_strSystemDirectory;
    std::vector<LockPermissionsRow> m_allPermissionsItems;
    std::vector<PermissionsItem> m_finalPermissionsItems;
};
