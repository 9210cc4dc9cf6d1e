// A Win32 error code whose system message is made on demand and shared by copies.
// The utility layer raises it where a system folder cannot be determined; no
// path of the custom actions reaches one.
#pragma once

#include <windows.h>

#include <exception>

namespace qx {

class win32_exception : public std::exception {
public:
    // Takes GetLastError().
    win32_exception();
    win32_exception(const win32_exception& other) noexcept;
    win32_exception& operator=(const win32_exception&) = delete;
    ~win32_exception() override;

    DWORD code() const noexcept { return m_dwCode; }
    // The system message for the code, as UTF-16 text behind a char pointer; empty for 0.
    const char* what() const noexcept override;

private:
    DWORD m_dwCode;
    mutable wchar_t* m_pszMessage = nullptr;
    mutable bool m_bFormatted = false;
    volatile LONG* m_plSharedCount;
};

} // namespace qx
