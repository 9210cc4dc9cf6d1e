#include "helper64/BitUtilsHelper.h"

#include <new>

#include "helper64/ModuleLock.h"
#include "inc/CoCreate.h"
#include "inc/ComHolders.h"

namespace {

constexpr HRESULT kExceptionFacility = static_cast<HRESULT>(0x80040000);

// The strings and values of an exception record, freed whatever the outcome.
struct ExceptionRecord : EXCEPINFO {
    ExceptionRecord() noexcept : EXCEPINFO() {}
    ExceptionRecord(const ExceptionRecord&) = delete;
    ExceptionRecord& operator=(const ExceptionRecord&) = delete;
    ~ExceptionRecord()
    {
        ::SysFreeString(bstrSource);
        ::SysFreeString(bstrDescription);
        ::SysFreeString(bstrHelpFile);
    }
};

} // namespace

CBitUtilsHelper::CBitUtilsHelper() noexcept
{
    qx::module_lock();
}

CBitUtilsHelper::~CBitUtilsHelper()
{
    if (m_pDispatch) {
        // Lets the helper process end: its last client connection goes away.
        m_pDispatch->Release();
        m_pDispatch = nullptr;
    }
    qx::module_unlock();
}

HRESULT CBitUtilsHelper::CreateInstance(CBitUtilsHelper** proxy) noexcept
{
    if (!proxy) {
        return E_POINTER;
    }
    *proxy = new (std::nothrow) CBitUtilsHelper();
    return *proxy ? S_OK : E_OUTOFMEMORY;
}

HRESULT CBitUtilsHelper::Initialize(const _stringx<>& path)
{
    return CoCreateFromExecutable(path.c_str(), CLSID_QXBEWUtils, IID_IDispatch,
                                  reinterpret_cast<void**>(&m_pDispatch));
}

HRESULT CBitUtilsHelper::QueryInterface(REFIID iid, void** object)
{
    if (!object) {
        return E_POINTER;
    }
    if (::IsEqualIID(iid, IID_IUnknown) || ::IsEqualIID(iid, IID_IQXBEWUtils)) {
        *object = static_cast<IQXBEWUtils*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG CBitUtilsHelper::AddRef()
{
    return ++m_dwRef;
}

ULONG CBitUtilsHelper::Release()
{
    ULONG count = --m_dwRef;
    if (count == 0) {
        // The module stays locked while the proxy tears down.
        qx::module_lock();
        delete this;
        qx::module_unlock();
    }
    return count;
}

HRESULT CBitUtilsHelper::GetTypeInfoCount(UINT* count)
{
    return m_pDispatch ? m_pDispatch->GetTypeInfoCount(count) : E_POINTER;
}

HRESULT CBitUtilsHelper::GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info)
{
    return m_pDispatch ? m_pDispatch->GetTypeInfo(index, lcid, info) : E_POINTER;
}

HRESULT CBitUtilsHelper::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids)
{
    return m_pDispatch ? m_pDispatch->GetIDsOfNames(iid, names, count, lcid, ids) : E_POINTER;
}

HRESULT CBitUtilsHelper::Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                                VARIANT* result, EXCEPINFO* exception, UINT* argumentError)
{
    return m_pDispatch ? m_pDispatch->Invoke(id, iid, lcid, flags, params, result, exception, argumentError)
                       : E_POINTER;
}

HRESULT CBitUtilsHelper::InvokeHelper(VARIANT* result, DISPID id, WORD kind, const VARIANT& arg1,
                                      const VARIANT& arg2, const VARIANT& arg3, const VARIANT& arg4,
                                      const VARIANT& arg5)
{
    if (!m_pDispatch) {
        return E_POINTER;
    }
    const VARIANT* given[] = {&arg1, &arg2, &arg3, &arg4, &arg5};
    UINT count = 0;
    while (count < 5 && given[count]->vt != VT_EMPTY) {
        ++count;
    }
    // Invoke takes the positional arguments last first.
    qx::variant arguments[5];
    for (UINT i = 0; i < count; ++i) {
        arguments[count - 1 - i].copy_from(*given[i]);
    }
    DISPID putId = DISPID_PROPERTYPUT;
    DISPPARAMS params = {};
    params.rgvarg = count ? arguments : nullptr;
    params.cArgs = count;
    if (kind == DISPATCH_PROPERTYPUT) {
        params.rgdispidNamedArgs = &putId;
        params.cNamedArgs = 1;
    }
    ExceptionRecord exception;
    UINT argumentError = 0;
    HRESULT hr = m_pDispatch->Invoke(id, IID_NULL, ::GetUserDefaultLCID(), kind, &params, result, &exception,
                                     &argumentError);
    if (hr != DISP_E_EXCEPTION) {
        return hr;
    }
    if (exception.pfnDeferredFillIn) {
        exception.pfnDeferredFillIn(&exception);
    }
    if (exception.wCode != 0) {
        return kExceptionFacility | exception.wCode;
    }
    return exception.scode != 0 ? exception.scode : DISP_E_EXCEPTION;
}

HRESULT CBitUtilsHelper::Method1(LONGLONG value, BSTR text)
{
    qx::variant first;
    first.set_i8(value);
    qx::variant second;
    second.set_bstr(text);
    qx::variant result;
    qx::variant none;
    return InvokeHelper(&result, DISPID_QXBEW_METHOD1, DISPATCH_METHOD, first, second, none, none, none);
}

HRESULT CBitUtilsHelper::Method2(BSTR text, LONGLONG value)
{
    qx::variant first;
    first.set_bstr(text);
    qx::variant second;
    second.set_i8(value);
    qx::variant result;
    qx::variant none;
    return InvokeHelper(&result, DISPID_QXBEW_METHOD2, DISPATCH_METHOD, first, second, none, none, none);
}

HRESULT CBitUtilsHelper::Method3()
{
    qx::variant result;
    qx::variant none;
    return InvokeHelper(&result, DISPID_QXBEW_METHOD3, DISPATCH_METHOD, none, none, none, none, none);
}

HRESULT CBitUtilsHelper::GetString(DISPID id, BSTR* value)
{
    if (!value) {
        return E_POINTER;
    }
    qx::variant result;
    qx::variant none;
    HRESULT hr = InvokeHelper(&result, id, DISPATCH_PROPERTYGET, none, none, none, none, none);
    if (FAILED(hr)) {
        return hr;
    }
    if (result.vt == VT_BSTR) {
        *value = qx::bstr_copy_bstr(result.bstrVal);
    }
    return S_OK;
}

HRESULT CBitUtilsHelper::get_Property4(BSTR* value)
{
    return GetString(DISPID_QXBEW_PROPERTY4, value);
}

HRESULT CBitUtilsHelper::get_Property5(BSTR* value)
{
    return GetString(DISPID_QXBEW_PROPERTY5, value);
}

HRESULT CBitUtilsHelper::get_Property6(BSTR* value)
{
    return GetString(DISPID_QXBEW_PROPERTY6, value);
}

HRESULT CBitUtilsHelper::get_Property7(BSTR* value)
{
    return GetString(DISPID_QXBEW_PROPERTY7, value);
}

HRESULT CBitUtilsHelper::Method8(BSTR first, BSTR second)
{
    qx::variant a1;
    a1.set_bstr(first);
    qx::variant a2;
    a2.set_bstr(second);
    qx::variant result;
    qx::variant none;
    return InvokeHelper(&result, DISPID_QXBEW_METHOD8, DISPATCH_METHOD, a1, a2, none, none, none);
}

HRESULT CBitUtilsHelper::Method9(BSTR first, BSTR second, BSTR third, BSTR fourth)
{
    qx::variant a1;
    a1.set_bstr(first);
    qx::variant a2;
    a2.set_bstr(second);
    qx::variant a3;
    a3.set_bstr(third);
    qx::variant a4;
    a4.set_bstr(fourth);
    qx::variant result;
    qx::variant none;
    return InvokeHelper(&result, DISPID_QXBEW_METHOD9, DISPATCH_METHOD, a1, a2, a3, a4, none);
}

HRESULT CBitUtilsHelper::Method10(BSTR first, BSTR second, LONG value)
{
    qx::variant a1;
    a1.set_bstr(first);
    qx::variant a2;
    a2.set_bstr(second);
    qx::variant a3;
    a3.set_i4(value);
    qx::variant result;
    qx::variant none;
    return InvokeHelper(&result, DISPID_QXBEW_METHOD10, DISPATCH_METHOD, a1, a2, a3, none, none);
}

HRESULT CBitUtilsHelper::GetBoolean(DISPID id, BSTR first, BSTR second, LONG value, VARIANT_BOOL flag,
                                    VARIANT_BOOL* result)
{
    if (!result) {
        return E_POINTER;
    }
    *result = 0;
    qx::variant a1;
    a1.set_bstr(first);
    qx::variant a2;
    a2.set_bstr(second);
    qx::variant a3;
    a3.set_i4(value);
    qx::variant a4;
    // Only all sixteen bits set count as true.
    a4.set_bool(flag == VARIANT_TRUE);
    qx::variant answer;
    qx::variant none;
    HRESULT hr = InvokeHelper(&answer, id, DISPATCH_METHOD, a1, a2, a3, a4, none);
    if (FAILED(hr)) {
        return hr;
    }
    *result = answer.boolVal;
    return S_OK;
}

HRESULT CBitUtilsHelper::Method11(BSTR first, BSTR second, LONG value, VARIANT_BOOL flag, VARIANT_BOOL* result)
{
    return GetBoolean(DISPID_QXBEW_METHOD11, first, second, value, flag, result);
}

HRESULT CBitUtilsHelper::Method12(BSTR first, BSTR second, LONG value, VARIANT_BOOL flag, VARIANT_BOOL* result)
{
    return GetBoolean(DISPID_QXBEW_METHOD12, first, second, value, flag, result);
}

HRESULT CBitUtilsHelper::Method13(BSTR first, BSTR second, BSTR* inOutText, LONG* inOutValue)
{
    if (!m_pDispatch) {
        return E_POINTER;
    }
    // Positional arguments last first; the last two travel by reference.
    qx::variant arguments[4];
    arguments[3].set_bstr(first);
    arguments[2].set_bstr(second);
    arguments[1].vt = VT_BSTR | VT_BYREF;
    arguments[1].pbstrVal = inOutText;
    arguments[0].vt = VT_I4 | VT_BYREF;
    arguments[0].plVal = inOutValue;
    DISPPARAMS params = {arguments, nullptr, 4, 0};
    qx::variant result;
    return m_pDispatch->Invoke(DISPID_QXBEW_METHOD13, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr,
                               nullptr);
}

HRESULT CBitUtilsHelper::SetObjectPermissions(BSTR objectName, BSTR domain, BSTR user, ULONG objectType,
                                              ULONG permission, ULONG flags, ULONG* result)
{
    if (!result) {
        return E_POINTER;
    }
    if (!m_pDispatch) {
        return E_POINTER;
    }
    qx::variant arguments[6];
    arguments[5].set_bstr(objectName);
    arguments[4].set_bstr(domain);
    arguments[3].set_bstr(user);
    arguments[2].set_ui4(objectType);
    arguments[1].set_ui4(permission);
    arguments[0].set_ui4(flags);
    DISPPARAMS params = {arguments, nullptr, 6, 0};
    qx::variant answer;
    HRESULT hr = m_pDispatch->Invoke(DISPID_QXBEW_SETOBJECTPERMISSIONS, IID_NULL, ::GetUserDefaultLCID(),
                                     DISPATCH_METHOD, &params, &answer, nullptr, nullptr);
    if (SUCCEEDED(hr) && answer.vt == VT_UI4) {
        *result = answer.ulVal;
    }
    return hr;
}
