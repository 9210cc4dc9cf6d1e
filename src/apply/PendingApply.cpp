// Placeholders until the install-time subsystem lands; removed with it.
#include "entry/LockPermissionsManager.h"

DWORD CQxLockPermissionsManager::ApplyPermissionsItems() { return ERROR_CALL_NOT_IMPLEMENTED; }
