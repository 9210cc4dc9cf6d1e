#include <windows.h>
#include <msi.h>

#include "entry/ActionGuard.h"
#include "entry/LockPermissionsManager.h"

extern "C" UINT __stdcall QXLockPermissionsCostAction(MSIHANDLE hInstall)
{
    return qx::RunGuardedAction(hInstall, [hInstall] {
        CQxLockPermissionsManager manager(hInstall);
        return manager.RunCost();
    });
}

extern "C" UINT __stdcall QXLockPermissionsInstallAction(MSIHANDLE hInstall)
{
    return qx::RunGuardedAction(hInstall, [hInstall] {
        CQxLockPermissionsManager manager(hInstall);
        return manager.RunInstall();
    });
}

// A failing rollback action would end the rollback: even an unexpected failure
// (logged) gives 0.
extern "C" UINT __stdcall QXLockPermissionsRollbackAction(MSIHANDLE hInstall)
{
    return qx::RunGuardedAction(
        hInstall,
        [hInstall] {
            CQxLockPermissionsManager manager(hInstall);
            return manager.RunRollback();
        },
        ERROR_SUCCESS);
}
