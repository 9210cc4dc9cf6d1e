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
