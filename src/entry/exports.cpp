#include <windows.h>
#include <msi.h>

extern "C" UINT __stdcall QXLockPermissionsCostAction(MSIHANDLE /*hInstall*/)
{
    return ERROR_SUCCESS;
}

extern "C" UINT __stdcall QXLockPermissionsInstallAction(MSIHANDLE /*hInstall*/)
{
    return ERROR_SUCCESS;
}
