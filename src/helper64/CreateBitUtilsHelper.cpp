#include "helper64/CreateBitUtilsHelper.h"

#include "helper64/BitUtilsHelper.h"
#include "support/com_ptr.h"

HRESULT CreateBitUtilsHelper(qx::log_sink& log, const _stringx<>& helperPath, IQXBEWUtils** helper)
{
    if (!helper) {
        return E_POINTER;
    }
    *helper = nullptr;
    CBitUtilsHelper* created = nullptr;
    HRESULT hr = CBitUtilsHelper::CreateInstance(&created);
    if (FAILED(hr)) {
        log.Log(FormatText(L"Error creating instance of 64-bit util helper: %x", static_cast<unsigned>(hr)));
        return hr;
    }
    created->AddRef();
    qx::com_ptr<CBitUtilsHelper> proxy(created); // released on every path that does not hand it out
    hr = proxy->Initialize(helperPath);
    if (FAILED(hr)) {
        log.Log(FormatText(L"Failed to initialize 64-bit helper, error %x", static_cast<unsigned>(hr)));
        return hr;
    }
    *helper = proxy.release(); // the caller takes over the one reference
    return S_OK;
}
