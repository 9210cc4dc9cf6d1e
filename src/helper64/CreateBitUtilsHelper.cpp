#include "entry/LockPermissionsManager.h"

// Stands in until the helper proxy lands: every request fails the way a 64-bit
// library fails when it has no extracted helper to start, with file-not-found.
HRESULT CQxLockPermissionsManager::CreateBitUtilsHelper(IQXBEWUtils** helper)
{
    if (!helper) {
        return E_POINTER;
    }
    *helper = nullptr;
    const HRESULT hr = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    Log(FormatText(L"Failed to initialize 64-bit helper, error %x", static_cast<unsigned int>(hr)));
    return hr;
}
