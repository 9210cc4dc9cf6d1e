// Placeholders until the install-time subsystem lands; removed with it.
#include "entry/LockPermissionsManager.h"

DWORD CQXSecureObject::ApplyItem(const PermissionsItem&) { return ERROR_CALL_NOT_IMPLEMENTED; }
DWORD CQxLockPermissionsManager::ApplyPermissionsItems() { return ERROR_CALL_NOT_IMPLEMENTED; }
