// Placeholders until the costing subsystem lands; removed with it.
#include "entry/LockPermissionsManager.h"

DWORD CQxLockPermissionsManager::BuildFinalPermissionsItems() { return ERROR_CALL_NOT_IMPLEMENTED; }
DWORD CQxLockPermissionsManager::GetItemsFromCustomActionData() { return ERROR_CALL_NOT_IMPLEMENTED; }
