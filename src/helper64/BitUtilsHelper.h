// The in-process face of the 64-bit helper process: implements IQXBEWUtils by
// turning each typed call into one IDispatch::Invoke on the helper's object.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "helper64/QXBEWUtils.h"
#include "support/com_ptr.h"
#include "support/stringx.h"
#include "support/unique_any.h"

// Single-threaded: the reference count is plain and the proxy stays on the thread
// that made it. Every call gives an HRESULT, its own failures included; the
// library's module is locked while a proxy exists. Only SetObjectPermissions is
// passed on: the library calls nothing else.
class CBitUtilsHelper : public IQXBEWUtils {
public:
    // A new proxy with reference count 0; E_OUTOFMEMORY when it cannot be allocated.
    static HRESULT CreateInstance(CBitUtilsHelper** proxy) noexcept;

    // Starts the helper executable at path and binds to its dispatch object.
    HRESULT Initialize(const _stringx<>& path);
    // Connects the proxy to a helper object that is already bound, taking over the
    // caller's reference (Initialize ends here).
    void Attach(IDispatch* dispatch) noexcept;

    // IUnknown. Only IUnknown and IQXBEWUtils are handed out; IDispatch is not,
    // although its operations are there.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IDispatch.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* exception, UINT* argumentError) override;

    // IQXBEWUtils.
    HRESULT STDMETHODCALLTYPE Method1(LONGLONG value, BSTR text) override;
    HRESULT STDMETHODCALLTYPE Method2(BSTR text, LONGLONG value) override;
    HRESULT STDMETHODCALLTYPE Method3() override;
    HRESULT STDMETHODCALLTYPE get_Property4(BSTR* value) override;
    HRESULT STDMETHODCALLTYPE get_Property5(BSTR* value) override;
    HRESULT STDMETHODCALLTYPE get_Property6(BSTR* value) override;
    HRESULT STDMETHODCALLTYPE get_Property7(BSTR* value) override;
    HRESULT STDMETHODCALLTYPE Method8(BSTR first, BSTR second) override;
    HRESULT STDMETHODCALLTYPE Method9(BSTR first, BSTR second, BSTR third, BSTR fourth) override;
    HRESULT STDMETHODCALLTYPE Method10(BSTR first, BSTR second, LONG value) override;
    HRESULT STDMETHODCALLTYPE Method11(BSTR first, BSTR second, LONG value, VARIANT_BOOL flag,
                                       VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE Method12(BSTR first, BSTR second, LONG value, VARIANT_BOOL flag,
                                       VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE Method13(BSTR first, BSTR second, BSTR* inOutText, LONG* inOutValue) override;
    HRESULT STDMETHODCALLTYPE SetObjectPermissions(BSTR objectName, BSTR domain, BSTR user, ULONG objectType,
                                                   ULONG permission, ULONG flags, ULONG* result) override;

private:
    CBitUtilsHelper() noexcept;
    CBitUtilsHelper(const CBitUtilsHelper&) = delete;
    CBitUtilsHelper& operator=(const CBitUtilsHelper&) = delete;
    virtual ~CBitUtilsHelper();

    DWORD m_dwRef = 0;
    qx::com_ptr<IDispatch> m_pDispatch; // null until Initialize succeeds
    qx::unique_handle m_hProcess;       // the helper process that Initialize started
};
