// The library's one way of carrying a failure: an exception with its own code and
// text, thrown where a call fails and caught only where a code must be returned
// (an exported action, a COM method) or where a failure is a decision (the prompt
// of one object, the next record of a rollback).
#pragma once

#include <windows.h>

#include <exception>
#include <new>
#include <string>

#include "support/stringx.h"

namespace qx {

class error : public std::exception {
public:
    // code is an HRESULT; a Win32 code travels as HRESULT_FROM_WIN32.
    error(HRESULT code, _stringx<> message);

    HRESULT code() const noexcept { return m_code; }
    const _stringx<>& message() const noexcept { return m_message; }
    // The message in the ANSI code page, for readers that know only std::exception.
    const char* what() const noexcept override { return m_what.c_str(); }

private:
    HRESULT m_code;
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
        return failure.code();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

} // namespace qx
