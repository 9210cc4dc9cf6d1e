// An HRESULT together with the thread's COM error information at the moment of failure.
#pragma once

#include <windows.h>

#include <exception>

#include "support/stringx.h"

class com_exception : public std::exception {
public:
    // Takes (and so consumes) the thread's error information.
    explicit com_exception(HRESULT hr);
    com_exception(const com_exception& other);
    com_exception& operator=(const com_exception&) = delete;
    ~com_exception() override;

    // The description in the thread's ANSI code page.
    const char* what() const noexcept override;

    HRESULT Error() const noexcept { return hr; }
    const _stringx<>& Description() const noexcept { return m_strDescription; }
    const _stringx<>& Source() const noexcept { return m_strSource; }
    const GUID& Guid() const noexcept { return m_iid; }

private:
    HRESULT hr;
    GUID m_iid{};
    CLSID m_clsid{};
    mutable _stringx<> m_strDescription; // mutable: what() builds its narrow view
    _stringx<> m_strSource;
};

// The COM framework's exception for a failed BSTR or VARIANT operation: an HRESULT only.
class CAtlException {
public:
    explicit CAtlException(HRESULT hr) noexcept : m_hr(hr) { }
    operator HRESULT() const noexcept { return m_hr; } // NOLINT(google-explicit-constructor)
    HRESULT m_hr;
};
