// The library's one way of carrying a failure: an exception with its own code and
// text, thrown where a call fails and caught only where a code must be returned
// (an exported action and its step's status line, a COM method) or where a failure
// is a decision (the prompt of one object, the next record of a rollback). The thin
// wrappers of single platform calls (support/files.h, apply/ObjectSecurity.h, the
// security entry points) answer as the platform call does, for their callers to
// throw with their own line.
#pragma once

#include <windows.h>

#include <exception>
#include <new>
#include <string>
#include <utility>

#include "support/stringx.h"

namespace qx {

class error : public std::exception {
public:
    // code is what the failing call gave: a Win32 code or an HRESULT, kept as it
    // is for the log line. message is the failure's log line; empty when the code
    // says all there is.
    error(DWORD code, _stringx<> message);
    error(HRESULT code, _stringx<> message) : error(static_cast<DWORD>(code), std::move(message)) { }
    error(UINT code, _stringx<> message) : error(static_cast<DWORD>(code), std::move(message)) { }

    DWORD code() const noexcept { return m_code; }
    // The code as an HRESULT, for a COM method to return.
    HRESULT hresult() const noexcept
    {
        const HRESULT code = static_cast<HRESULT>(m_code);
        return FAILED(code) ? code : HRESULT_FROM_WIN32(m_code);
    }
    const _stringx<>& message() const noexcept { return m_message; }
    // The message in the ANSI code page, for readers that know only std::exception.
    const char* what() const noexcept override { return m_what.c_str(); }

private:
    DWORD m_code;
    _stringx<> m_message;
    std::string m_what;
};

// A call into the installer that failed: the installer's own text and the call.
class installer_error : public error {
public:
    using error::error;
};

// Throws error(hr, "<operation> failed") for a failed HRESULT.
void throw_if_failed(HRESULT hr, const wchar_t* operation);

// The body of a COM method: nothing leaves it but an HRESULT. A thrown error gives
// its code, a failed allocation E_OUTOFMEMORY, anything else E_UNEXPECTED.
template <class Body> HRESULT hresult_boundary(Body body) noexcept
{
    try {
        return body();
    } catch (const error& failure) {
        return failure.hresult();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

} // namespace qx
