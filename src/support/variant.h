// VARIANTs and BSTR copies for dispatch calls; a failed allocation or VARIANT
// operation throws qx::error.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "support/error.h"

namespace qx {

// A new BSTR with the text; a null text stays null. Throws when it cannot be allocated.
inline BSTR bstr_copy(const wchar_t* text)
{
    if (!text) {
        return nullptr;
    }
    BSTR b = ::SysAllocString(text);
    if (!b) {
        throw error(E_OUTOFMEMORY, L"No memory for a BSTR");
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

    void clear() { throw_if_failed(::VariantClear(this), L"VariantClear"); }
    void set(const wchar_t* text)
    {
        clear();
        bstrVal = bstr_copy(text);
        vt = VT_BSTR;
    }
    void set(ULONG value)
    {
        clear();
        vt = VT_UI4;
        ulVal = value;
    }
};

// Arrays of variant are handed to Invoke as arrays of VARIANT.
static_assert(sizeof(variant) == sizeof(VARIANT), "variant must add no data to VARIANT");

} // namespace qx
