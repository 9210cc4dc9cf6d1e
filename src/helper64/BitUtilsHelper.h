// The in-process face of the 64-bit helper process: implements IQXBEWUtils by
// turning each typed call into one IDispatch::Invoke on the helper's object.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "helper64/QXBEWUtils.h"
#include "support/stringx.h"

// Single-threaded: the reference count is plain and the proxy stays on the thread
// that made it. Allocation and VARIANT failures inside a call throw CAtlException;
// failures of the helper come back as HRESULTs.
class CBitUtilsHelper : public IQXBEWUtils {
public:
    // A new proxy with reference count 0; E_OUTOFMEMORY when it cannot be allocated.
    static HRESULT CreateInstance(CBitUtilsHelper** proxy) noexcept;

    // Starts the helper executable at path and binds to its dispatch object.
    HRESULT Initialize(const _stringx<>& path);

    // IUnknown. Only IUnknown and IQXBEWUtils are handed out; IDispatch is not,
    // although its operations are there.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IDispatch: passed on unchanged to the helper's object.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override;

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

    // One call on the helper's object with up to five positional arguments, given in
    // declaration order; the first VT_EMPTY one ends the list. A DISP_E_EXCEPTION
    // comes back as 0x80040000 | wCode, else as its scode, else unchanged.
    HRESULT InvokeHelper(VARIANT* result, DISPID id, WORD kind, const VARIANT& arg1, const VARIANT& arg2,
                         const VARIANT& arg3, const VARIANT& arg4, const VARIANT& arg5);

    virtual ~CBitUtilsHelper();

    DWORD m_dwRef = 0;
    IDispatch* m_pDispatch = nullptr; // owned; null until Initialize succeeds

private:
    CBitUtilsHelper() noexcept;
    CBitUtilsHelper(const CBitUtilsHelper&) = delete;
    CBitUtilsHelper& operator=(const CBitUtilsHelper&) = delete;

    HRESULT GetString(DISPID id, BSTR* value);
    HRESULT GetBoolean(DISPID id, BSTR first, BSTR second, LONG value, VARIANT_BOOL flag, VARIANT_BOOL* result);
};
