// The dispatch interface of the 64-bit helper executable, shared by the proxy in
// the library and the object that the helper serves.
#pragma once

#include <windows.h>
#include <oaidl.h>

extern const IID IID_IQXBEWUtils;    // {101A9FA5-98CB-4AC3-B67C-3DC040C45996}
extern const CLSID CLSID_QXBEWUtils; // {EFB7539B-24F3-46B6-AF6E-3B021B51EFEF}

// Dispatch identifiers, in declaration order of the interface.
enum : DISPID {
    DISPID_QXBEW_METHOD1 = 1,
    DISPID_QXBEW_METHOD2,
    DISPID_QXBEW_METHOD3,
    DISPID_QXBEW_PROPERTY4,
    DISPID_QXBEW_PROPERTY5,
    DISPID_QXBEW_PROPERTY6,
    DISPID_QXBEW_PROPERTY7,
    DISPID_QXBEW_METHOD8,
    DISPID_QXBEW_METHOD9,
    DISPID_QXBEW_METHOD10,
    DISPID_QXBEW_METHOD11,
    DISPID_QXBEW_METHOD12,
    DISPID_QXBEW_METHOD13,
    DISPID_QXBEW_SETOBJECTPERMISSIONS,
};

struct IQXBEWUtils : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE Method1(LONGLONG value, BSTR text) = 0;
    virtual HRESULT STDMETHODCALLTYPE Method2(BSTR text, LONGLONG value) = 0;
    virtual HRESULT STDMETHODCALLTYPE Method3() = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Property4(BSTR* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Property5(BSTR* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Property6(BSTR* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Property7(BSTR* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE Method8(BSTR first, BSTR second) = 0;
    virtual HRESULT STDMETHODCALLTYPE Method9(BSTR first, BSTR second, BSTR third, BSTR fourth) = 0;
    virtual HRESULT STDMETHODCALLTYPE Method10(BSTR first, BSTR second, LONG value) = 0;
    virtual HRESULT STDMETHODCALLTYPE Method11(BSTR first, BSTR second, LONG value, VARIANT_BOOL flag,
                                               VARIANT_BOOL* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE Method12(BSTR first, BSTR second, LONG value, VARIANT_BOOL flag,
                                               VARIANT_BOOL* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE Method13(BSTR first, BSTR second, BSTR* inOutText, LONG* inOutValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetObjectPermissions(BSTR objectName, BSTR domain, BSTR user, ULONG objectType,
                                                           ULONG permission, ULONG flags, ULONG* result) = 0;
};
