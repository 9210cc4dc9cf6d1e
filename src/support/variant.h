// VARIANTs and BSTR copies for dispatch calls, failing with CAtlException as the
// COM framework's own helpers do.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "support/com_exception.h"

namespace qx {

// A new BSTR with the text; a null text stays null. Throws when it cannot be allocated.
inline BSTR bstr_copy(const wchar_t* text)
{
    if (!text) {
        return nullptr;
    }
    BSTR b = ::SysAllocString(text);
    if (!b) {
        throw CAtlException(E_OUTOFMEMORY);
    }
    return b;
}

// The same for a BSTR, keeping its length (embedded NULs included).
inline BSTR bstr_copy_bstr(BSTR text)
{
    if (!text) {
        return nullptr;
    }
    BSTR b = ::SysAllocStringLen(text, ::SysStringLen(text));
    if (!b) {
        throw CAtlException(E_OUTOFMEMORY);
    }
    return b;
}

// A VARIANT that is cleared when it goes away. The whole value is zero-filled on
// construction, so a callee that answers nothing leaves a defined VT_EMPTY.
class variant : public VARIANT {
public:
    variant() noexcept : VARIANT() { ::VariantInit(this); }
    variant(const variant&) = delete;
    variant& operator=(const variant&) = delete;
    ~variant() { ::VariantClear(this); }

    static void check(HRESULT hr)
    {
        if (FAILED(hr)) {
            throw CAtlException(hr);
        }
    }
    void clear() { check(::VariantClear(this)); }
    void set(const wchar_t* text)
    {
        clear();
        bstrVal = bstr_copy(text);
        vt = VT_BSTR;
    }
    void set(LONGLONG value)
    {
        clear();
        vt = VT_I8;
        llVal = value;
    }
    void set(LONG value)
    {
        clear();
        vt = VT_I4;
        lVal = value;
    }
    void set(ULONG value)
    {
        clear();
        vt = VT_UI4;
        ulVal = value;
    }
    void set(bool value)
    {
        clear();
        vt = VT_BOOL;
        boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    }
};

// Arrays of variant are handed to Invoke as arrays of VARIANT.
static_assert(sizeof(variant) == sizeof(VARIANT), "variant must add no data to VARIANT");

} // namespace qx
