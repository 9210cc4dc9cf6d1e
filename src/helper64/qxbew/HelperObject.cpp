#include "helper64/qxbew/HelperObject.h"

#include "apply/AccessEntries.h"
#include "helper64/QXBEWUtils.h"
#include "support/variant.h"

namespace {

// The helper has no installation log: its client logs the item's outcome.
class CNoLog : public qx::log_sink {
public:
    void Log(const _stringx<>& /*message*/) override { }
};

} // namespace

HRESULT CHelperObject::QueryInterface(REFIID iid, void** object)
{
    if (!object) {
        return E_POINTER;
    }
    if (::IsEqualIID(iid, IID_IUnknown) || ::IsEqualIID(iid, IID_IDispatch)) {
        *object = static_cast<IDispatch*>(this);
    } else if (::IsEqualIID(iid, IID_IExternalConnection)) {
        *object = static_cast<IExternalConnection*>(this);
    } else {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG CHelperObject::AddRef()
{
    return static_cast<ULONG>(::InterlockedIncrement(&m_refs));
}

ULONG CHelperObject::Release()
{
    LONG count = ::InterlockedDecrement(&m_refs);
    if (count == 0) {
        delete this;
    }
    return static_cast<ULONG>(count);
}

HRESULT CHelperObject::GetTypeInfoCount(UINT* count)
{
    if (!count) {
        return E_POINTER;
    }
    *count = 0;
    return S_OK;
}

HRESULT CHelperObject::GetTypeInfo(UINT /*index*/, LCID /*lcid*/, ITypeInfo** info)
{
    if (info) {
        *info = nullptr;
    }
    return DISP_E_BADINDEX;
}

HRESULT CHelperObject::GetIDsOfNames(REFIID /*iid*/, LPOLESTR* /*names*/, UINT count, LCID /*lcid*/, DISPID* ids)
{
    for (UINT i = 0; ids && i < count; ++i) {
        ids[i] = DISPID_UNKNOWN;
    }
    return DISP_E_UNKNOWNNAME;
}

HRESULT CHelperObject::Invoke(DISPID id, REFIID /*iid*/, LCID /*lcid*/, WORD flags, DISPPARAMS* params, VARIANT* result,
                              EXCEPINFO* /*exception*/, UINT* argumentError)
{
    if (id == DISPID_QXBEW_SETOBJECTPERMISSIONS) {
        if (!(flags & DISPATCH_METHOD)) {
            return DISP_E_MEMBERNOTFOUND;
        }
        return qx::hresult_boundary([&] { return SetObjectPermissions(params, result, argumentError); });
    }
    // The library calls SetObjectPermissions only; the other members of the
    // interface are known but not implemented here.
    if (id >= DISPID_QXBEW_METHOD1 && id < DISPID_QXBEW_SETOBJECTPERMISSIONS) {
        return E_NOTIMPL;
    }
    return DISP_E_MEMBERNOTFOUND;
}

HRESULT CHelperObject::SetObjectPermissions(DISPPARAMS* params, VARIANT* result, UINT* argumentError)
{
    if (!params) {
        return E_POINTER;
    }
    if (params->cNamedArgs != 0) {
        return DISP_E_NONAMEDARGS;
    }
    if (params->cArgs != 6) {
        return DISP_E_BADPARAMCOUNT;
    }
    // Arguments in declaration order; DispGetParam counts from the first and
    // converts where the caller sent another type.
    qx::variant objectName, domain, user, objectType, permission, itemFlags;
    struct {
        VARIANT* target;
        VARTYPE type;
    } wanted[] = {{&objectName, VT_BSTR}, {&domain, VT_BSTR},    {&user, VT_BSTR},
                  {&objectType, VT_UI4},  {&permission, VT_UI4}, {&itemFlags, VT_UI4}};
    for (UINT position = 0; position < 6; ++position) {
        HRESULT hr = ::DispGetParam(params, position, wanted[position].type, wanted[position].target, argumentError);
        if (FAILED(hr)) {
            return hr;
        }
    }

    const DWORD code = ApplyRegistryItem(objectName.bstrVal, static_cast<SE_OBJECT_TYPE>(objectType.ulVal),
                                         domain.bstrVal, user.bstrVal, permission.ulVal, itemFlags.ulVal);

    if (result) {
        ::VariantClear(result);
        result->vt = VT_UI4;
        result->ulVal = code;
    }
    return S_OK;
}

DWORD CHelperObject::ApplyRegistryItem(const wchar_t* objectName, SE_OBJECT_TYPE objectType, const wchar_t* domain,
                                       const wchar_t* user, DWORD permission, DWORD flags)
{
    // A program that runs as LocalSystem locks registry keys for its client and
    // nothing else: no file or other object is touched on anyone's word.
    if (objectType != SE_REGISTRY_KEY && objectType != SE_REGISTRY_WOW64_32KEY) {
        return ERROR_INVALID_PARAMETER;
    }
    PermissionsItem item;
    item.m_strObjectName = objectName;
    item.m_kind = LockObjectKind::Registry;
    // The view is the component's: the installer wrote the keys of a component
    // without the 64-bit attribute into the 32-bit view, all others into this
    // process's own, the 64-bit one.
    item.m_objectType = (flags & LOCKPERM_32BIT_VIEW) != 0 ? SE_REGISTRY_WOW64_32KEY : SE_REGISTRY_KEY;
    item.m_strDomain = domain;
    item.m_strUser = user;
    item.m_dwPermission = permission;
    item.m_dwFlags = flags;
    // The item's failure is the client's answer, not the call's.
    CNoLog noLog;
    try {
        ApplyItemInProcess(m_security, noLog, item);
    } catch (const qx::error& failure) {
        return failure.code();
    }
    return ERROR_SUCCESS;
}

DWORD CHelperObject::AddConnection(DWORD kind, DWORD /*reserved*/)
{
    if (kind & EXTCONN_STRONG) {
        ++m_connections;
        if (m_connections > m_baseline) {
            m_clientCame = true;
        }
    }
    return m_connections;
}

DWORD CHelperObject::ReleaseConnection(DWORD kind, DWORD /*reserved*/, BOOL /*lastReleaseCloses*/)
{
    if ((kind & EXTCONN_STRONG) && m_connections > 0) {
        --m_connections;
        if (m_clientCame && m_connections <= m_baseline) {
            // Ends the message loop; the registration is revoked on the way out.
            ::PostQuitMessage(0);
        }
    }
    return m_connections;
}
