// Owners for what the helper code holds besides interface pointers and BSTRs
// (support/com_holders.h): VARIANTs, handles that may be INVALID_HANDLE_VALUE, and
// the thread's COM apartment.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "support/com_exception.h"
#include "support/com_holders.h"

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
    // A null BSTR stays null (some VariantCopy implementations turn it into an empty
    // string). Some SDK headers declare the source non-const; it is only read.
    void copy_from(const VARIANT& source)
    {
        if (source.vt == VT_BSTR && !source.bstrVal) {
            clear();
            vt = VT_BSTR;
            bstrVal = nullptr;
            return;
        }
        check(::VariantCopy(this, const_cast<VARIANT*>(&source)));
    }

    void set_bstr(const wchar_t* text)
    {
        clear();
        bstrVal = bstr_copy(text);
        vt = VT_BSTR;
    }
    void set_i8(LONGLONG value)
    {
        clear();
        vt = VT_I8;
        llVal = value;
    }
    void set_i4(LONG value)
    {
        clear();
        vt = VT_I4;
        lVal = value;
    }
    void set_ui4(ULONG value)
    {
        clear();
        vt = VT_UI4;
        ulVal = value;
    }
    void set_bool(bool value)
    {
        clear();
        vt = VT_BOOL;
        boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    }
};

// Arrays of variant are handed to Invoke as arrays of VARIANT.
static_assert(sizeof(variant) == sizeof(VARIANT), "variant must add no data to VARIANT");

// Owns a kernel handle (process, thread, file, event).
class handle_holder {
public:
    handle_holder() noexcept = default;
    explicit handle_holder(HANDLE h) noexcept : m_h(h) {}
    handle_holder(const handle_holder&) = delete;
    handle_holder& operator=(const handle_holder&) = delete;
    ~handle_holder() { reset(); }

    void reset(HANDLE h = nullptr) noexcept
    {
        if (m_h && m_h != INVALID_HANDLE_VALUE) {
            ::CloseHandle(m_h);
        }
        m_h = h;
    }
    HANDLE get() const noexcept { return m_h; }
    explicit operator bool() const noexcept { return m_h && m_h != INVALID_HANDLE_VALUE; }

private:
    HANDLE m_h = nullptr;
};

// COM for the calling thread, in a single-threaded apartment, for the holder's lifetime.
class com_apartment {
public:
    com_apartment() noexcept : m_hr(::CoInitialize(nullptr)) {}
    com_apartment(const com_apartment&) = delete;
    com_apartment& operator=(const com_apartment&) = delete;
    ~com_apartment()
    {
        if (SUCCEEDED(m_hr)) {
            ::CoUninitialize();
        }
    }
    HRESULT result() const noexcept { return m_hr; }

private:
    HRESULT m_hr;
};

} // namespace qx
