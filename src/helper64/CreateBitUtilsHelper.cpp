#include "helper64/CreateBitUtilsHelper.h"

#include "entry/LockPermissionsManager.h"
#include "helper64/BitUtilsHelper.h"

HRESULT CreateBitUtilsHelper(CQXSecureObject& logger, const _stringx<>& helperPath, IQXBEWUtils** helper)
{
    if (!helper) {
        return E_POINTER;
    }
    *helper = nullptr;
    CBitUtilsHelper* proxy = nullptr;
    HRESULT hr = CBitUtilsHelper::CreateInstance(&proxy);
    if (FAILED(hr)) {
        logger.Log(FormatText(L"Error creating instance of 64-bit util helper: %x", static_cast<unsigned>(hr)));
        return hr;
    }
    proxy->AddRef();
    try {
        hr = proxy->Initialize(helperPath);
    } catch (...) {
        proxy->Release();
        throw;
    }
    if (FAILED(hr)) {
        logger.Log(FormatText(L"Failed to initialize 64-bit helper, error %x", static_cast<unsigned>(hr)));
        proxy->Release();
        return hr;
    }
    *helper = proxy; // the caller takes over the one reference
    return S_OK;
}

HRESULT CQxLockPermissionsManager::CreateBitUtilsHelper(IQXBEWUtils** helper)
{
    return ::CreateBitUtilsHelper(*this, m_strHelperPath, helper);
}
