// Small owners for COM and kernel resources: interface pointers, BSTRs, VARIANTs
// and handles, each released on every path.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <utility>

#include "support/com_exception.h"

namespace qx {

// Owns one reference to an interface.
template <class T>
class com_ptr {
public:
    com_ptr() noexcept = default;
    com_ptr(const com_ptr&) = delete;
    com_ptr& operator=(const com_ptr&) = delete;
    ~com_ptr() { reset(); }

    void reset() noexcept
    {
        if (m_p) {
            T* p = m_p;
            m_p = nullptr;
            p->Release();
        }
    }
    // Receives a new reference from a call; what was held before is released first.
    T** put() noexcept
    {
        reset();
        return &m_p;
    }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }
    T* get() const noexcept { return m_p; }
    T* operator->() const noexcept { return m_p; }
    explicit operator bool() const noexcept { return m_p != nullptr; }
    T* detach() noexcept { return std::exchange(m_p, nullptr); }

private:
    T* m_p = nullptr;
};

// Owns one BSTR. A null source stays null; failing to copy a non-null source throws.
class bstr_holder {
public:
    bstr_holder() noexcept = default;
    explicit bstr_holder(const wchar_t* text) : m_b(copy(text)) {}
    bstr_holder(const bstr_holder&) = delete;
    bstr_holder& operator=(const bstr_holder&) = delete;
    ~bstr_holder() { ::SysFreeString(m_b); }

    // A copy that keeps the length of a BSTR source (embedded NULs included).
    static BSTR copy(const wchar_t* text)
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
    static BSTR copy_bstr(BSTR text)
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

    BSTR get() const noexcept { return m_b; }
    BSTR* put() noexcept
    {
        ::SysFreeString(m_b);
        m_b = nullptr;
        return &m_b;
    }
    BSTR detach() noexcept { return std::exchange(m_b, nullptr); }

private:
    BSTR m_b = nullptr;
};

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
        bstrVal = bstr_holder::copy(text);
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
