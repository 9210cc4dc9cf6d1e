#include "helper64/BitUtilsHelper.h"

#include <new>

#include "helper64/CoCreate.h"
#include "helper64/ModuleLock.h"
#include "support/variant.h"

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

// The library calls SetObjectPermissions alone: the rest of the interface is the
// helper's contract, with nothing in this proxy to pass on.
HRESULT CBitUtilsHelper::GetTypeInfoCount(UINT*)
{
    return E_NOTIMPL;
}

HRESULT CBitUtilsHelper::GetTypeInfo(UINT, LCID, ITypeInfo**)
{
    return E_NOTIMPL;
}

HRESULT CBitUtilsHelper::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*)
{
    return E_NOTIMPL;
}

HRESULT CBitUtilsHelper::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*)
{
    return E_NOTIMPL;
}

HRESULT CBitUtilsHelper::Method1(LONGLONG, BSTR)
{
    return E_NOTIMPL;
}

HRESULT CBitUtilsHelper::Method2(BSTR, LONGLONG)
{
    return E_NOTIMPL;
}

HRESULT CBitUtilsHelper::Method3()
{
    return E_NOTIMPL;
}

HRESULT CBitUtilsHelper::get_Property4(BSTR*)
{
    return E_NOTIMPL;
}

HRESULT CBitUtilsHelper::get_Property5(BSTR*)
{
    return E_NOTIMPL;
}

HRESULT CBitUtilsHelper::get_Property6(BSTR*)
{
    return E_NOTIMPL;
}

HRESULT CBitUtilsHelper::get_Property7(BSTR*)
{
    return E_NOTIMPL;
}

HRESULT CBitUtilsHelper::Method8(BSTR, BSTR)
{
    return E_NOTIMPL;
}

HRESULT CBitUtilsHelper::Method9(BSTR, BSTR, BSTR, BSTR)
{
    return E_NOTIMPL;
}

HRESULT CBitUtilsHelper::Method10(BSTR, BSTR, LONG)
{
    return E_NOTIMPL;
}

HRESULT CBitUtilsHelper::Method11(BSTR, BSTR, LONG, VARIANT_BOOL, VARIANT_BOOL*)
{
    return E_NOTIMPL;
}

HRESULT CBitUtilsHelper::Method12(BSTR, BSTR, LONG, VARIANT_BOOL, VARIANT_BOOL*)
{
    return E_NOTIMPL;
}

HRESULT CBitUtilsHelper::Method13(BSTR, BSTR, BSTR*, LONG*)
{
    return E_NOTIMPL;
}

HRESULT CBitUtilsHelper::SetObjectPermissions(BSTR objectName, BSTR domain, BSTR user, ULONG objectType,
                                              ULONG permission, ULONG flags, ULONG* result)
{
    if (!result || !m_pDispatch) {
        return E_POINTER;
    }
    return qx::hresult_boundary([&] {
        // Invoke takes the positional arguments last first.
        qx::variant arguments[6];
        arguments[5].set(objectName);
        arguments[4].set(domain);
        arguments[3].set(user);
        arguments[2].set(objectType);
        arguments[1].set(permission);
        arguments[0].set(flags);
        DISPPARAMS params = {arguments, nullptr, 6, 0};
        // Its HRESULT comes back untranslated, and the result only in its own type.
        qx::variant answer;
        const HRESULT hr = m_pDispatch->Invoke(DISPID_QXBEW_SETOBJECTPERMISSIONS, IID_NULL, ::GetUserDefaultLCID(),
                                               DISPATCH_METHOD, &params, &answer, nullptr, nullptr);
        if (SUCCEEDED(hr) && answer.vt == VT_UI4) {
            *result = answer.ulVal;
        }
        return hr;
    });
}
