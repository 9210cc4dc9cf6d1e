// The object that the helper executable registers in the running object table:
// a dispatch object that applies registry items in the registry view of their
// component.
#pragma once

#include <windows.h>
#include <accctrl.h>
#include <oaidl.h>
#include <objidl.h>

#include "apply/SecurityFunctions.h"

class CHelperObject : public IDispatch, public IExternalConnection {
public:
    // The security entry points it applies items with (tests record what reaches them).
    explicit CHelperObject(const CSecurityFunctions& security = CSecurityFunctions()) : m_security(security) { }
    CHelperObject(const CHelperObject&) = delete;
    CHelperObject& operator=(const CHelperObject&) = delete;
    virtual ~CHelperObject() = default;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IDispatch, by DISPID only: there is no type information.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* exception, UINT* argumentError) override;

    // IExternalConnection: how the helper learns that its client let go. While the
    // object is registered its own reference count never falls to zero.
    DWORD STDMETHODCALLTYPE AddConnection(DWORD kind, DWORD reserved) override;
    DWORD STDMETHODCALLTYPE ReleaseConnection(DWORD kind, DWORD reserved, BOOL lastReleaseCloses) override;

    // Strong connections that exist once the registration is done (the table's own,
    // if any); the helper ends when the count falls back to this after a client came.
    void MarkRegistered() noexcept { m_baseline = m_connections; }
    bool ClientConnected() const noexcept { return m_clientCame; }

private:
    HRESULT SetObjectPermissions(DISPPARAMS* params, VARIANT* result, UINT* argumentError);
    // 87 for any object type but a registry key's; otherwise the in-process apply
    // path's result in the registry view that the flags name.
    DWORD ApplyRegistryItem(const wchar_t* objectName, SE_OBJECT_TYPE objectType, const wchar_t* domain,
                            const wchar_t* user, DWORD permission, DWORD flags);

    CSecurityFunctions m_security;
    LONG m_refs = 1;
    DWORD m_connections = 0;
    DWORD m_baseline = 0;
    bool m_clientCame = false;
};
