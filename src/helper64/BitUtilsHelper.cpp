#include "helper64/BitUtilsHelper.h"

#include <new>

#include "helper64/CoCreate.h"
#include "helper64/ModuleLock.h"
#include "support/variant.h"

namespace {

constexpr HRESULT kExceptionFacility = static_cast<HRESULT>(0x80040000);

// What a call gives back: a raised exception (DISP_E_EXCEPTION) becomes
// 0x80040000 | wCode, else its scode, else stays as it is. The record's strings
// are freed whatever the outcome.
HRESULT Translate(HRESULT hr, EXCEPINFO& exception)
{
    if (hr == DISP_E_EXCEPTION && exception.pfnDeferredFillIn) {
        exception.pfnDeferredFillIn(&exception);
    }
    ::SysFreeString(exception.bstrSource);
    ::SysFreeString(exception.bstrDescription);
    ::SysFreeString(exception.bstrHelpFile);
    if (hr != DISP_E_EXCEPTION) {
        return hr;
    }
    if (exception.wCode != 0) {
        return kExceptionFacility | exception.wCode;
    }
    return exception.scode != 0 ? exception.scode : DISP_E_EXCEPTION;
}

} // namespace

CBitUtilsHelper::CBitUtilsHelper() noexcept
{
    qx::module_lock();
}

CBitUtilsHelper::~CBitUtilsHelper()
{
    // Lets the helper process end: its last client connection goes away. One
    // that does not end by itself is ended, so that its file can be deleted.
    m_pDispatch.reset();
    EndStartedProgram(m_hProcess, qx::bind_polling().endWaitMs);
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
    qx::com_ptr<IDispatch> dispatch;
    HRESULT hr =
        CoCreateFromExecutable(path.c_str(), CLSID_QXBEWUtils, IID_IDispatch, dispatch.put_void(), &m_hProcess);
    if (SUCCEEDED(hr)) {
        Attach(dispatch.release());
    }
    return hr;
}

void CBitUtilsHelper::Attach(IDispatch* dispatch) noexcept
{
    m_pDispatch.reset(dispatch);
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

HRESULT CBitUtilsHelper::Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                                EXCEPINFO* exception, UINT* argumentError)
{
    return m_pDispatch ? m_pDispatch->Invoke(id, iid, lcid, flags, params, result, exception, argumentError)
                       : E_POINTER;
}

template <class... Arguments>
HRESULT CBitUtilsHelper::Send(VARIANT* result, DISPID id, WORD kind, EXCEPINFO* exception, Arguments... arguments)
{
    if (!m_pDispatch) {
        return E_POINTER;
    }
    // Invoke takes the positional arguments last first.
    constexpr UINT count = sizeof...(Arguments);
    qx::variant values[count + 1];
    UINT slot = count;
    (values[--slot].set(arguments), ...);
    (void)slot; // a call without arguments sets nothing
    DISPPARAMS params = {count ? values : nullptr, nullptr, count, 0};
    return m_pDispatch->Invoke(id, IID_NULL, ::GetUserDefaultLCID(), kind, &params, result, exception, nullptr);
}

template <class... Arguments>
HRESULT CBitUtilsHelper::Call(VARIANT* result, DISPID id, WORD kind, Arguments... arguments)
{
    EXCEPINFO exception = {};
    return Translate(Send(result, id, kind, &exception, arguments...), exception);
}

HRESULT CBitUtilsHelper::Method1(LONGLONG value, BSTR text)
{
    qx::variant result;
    return Call(&result, DISPID_QXBEW_METHOD1, DISPATCH_METHOD, value, text);
}

HRESULT CBitUtilsHelper::Method2(BSTR text, LONGLONG value)
{
    qx::variant result;
    return Call(&result, DISPID_QXBEW_METHOD2, DISPATCH_METHOD, text, value);
}

HRESULT CBitUtilsHelper::Method3()
{
    qx::variant result;
    return Call(&result, DISPID_QXBEW_METHOD3, DISPATCH_METHOD);
}

HRESULT CBitUtilsHelper::GetString(DISPID id, BSTR* value)
{
    if (!value) {
        return E_POINTER;
    }
    qx::variant result;
    HRESULT hr = Call(&result, id, DISPATCH_PROPERTYGET);
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
    qx::variant result;
    return Call(&result, DISPID_QXBEW_METHOD8, DISPATCH_METHOD, first, second);
}

HRESULT CBitUtilsHelper::Method9(BSTR first, BSTR second, BSTR third, BSTR fourth)
{
    qx::variant result;
    return Call(&result, DISPID_QXBEW_METHOD9, DISPATCH_METHOD, first, second, third, fourth);
}

HRESULT CBitUtilsHelper::Method10(BSTR first, BSTR second, LONG value)
{
    qx::variant result;
    return Call(&result, DISPID_QXBEW_METHOD10, DISPATCH_METHOD, first, second, value);
}

HRESULT CBitUtilsHelper::GetBoolean(DISPID id, BSTR first, BSTR second, LONG value, VARIANT_BOOL flag,
                                    VARIANT_BOOL* result)
{
    if (!result) {
        return E_POINTER;
    }
    *result = 0;
    qx::variant answer;
    // Only all sixteen bits set count as true.
    HRESULT hr = Call(&answer, id, DISPATCH_METHOD, first, second, value, flag == VARIANT_TRUE);
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
    // The last two travel by reference, and the call takes locale 0 and no exception record.
    qx::variant arguments[4];
    arguments[3].set(first);
    arguments[2].set(second);
    arguments[1].vt = VT_BSTR | VT_BYREF;
    arguments[1].pbstrVal = inOutText;
    arguments[0].vt = VT_I4 | VT_BYREF;
    arguments[0].plVal = inOutValue;
    DISPPARAMS params = {arguments, nullptr, 4, 0};
    qx::variant result;
    return m_pDispatch->Invoke(DISPID_QXBEW_METHOD13, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr);
}

HRESULT CBitUtilsHelper::SetObjectPermissions(BSTR objectName, BSTR domain, BSTR user, ULONG objectType,
                                              ULONG permission, ULONG flags, ULONG* result)
{
    if (!result) {
        return E_POINTER;
    }
    // Its HRESULT comes back untranslated, and the result only in its own type.
    qx::variant answer;
    HRESULT hr = Send(&answer, DISPID_QXBEW_SETOBJECTPERMISSIONS, DISPATCH_METHOD, nullptr, objectName, domain, user,
                      objectType, permission, flags);
    if (SUCCEEDED(hr) && answer.vt == VT_UI4) {
        *result = answer.ulVal;
    }
    return hr;
}
