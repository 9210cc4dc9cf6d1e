#include "support/win32_exception.h"

namespace qx {

namespace {

// The block that copies share. The counter comes first, so the class's counter
// pointer is also the block's address; the message lives here too, so that the
// copy that formats first publishes it to all others and the last one frees it.
struct shared_message {
    volatile LONG count;
    wchar_t* volatile message;
};

shared_message* block_of(volatile LONG* count) noexcept
{
    return reinterpret_cast<shared_message*>(const_cast<LONG*>(count));
}

} // namespace

win32_exception::win32_exception()
    : m_dwCode(::GetLastError()), m_plSharedCount(&(new shared_message{1, nullptr})->count)
{
    // Raising this must not change the code a caller may still read.
    ::SetLastError(m_dwCode);
}

win32_exception::win32_exception(const win32_exception& other) noexcept
    : std::exception(other), m_dwCode(other.m_dwCode), m_pszMessage(other.m_pszMessage),
      m_bFormatted(other.m_bFormatted), m_plSharedCount(other.m_plSharedCount)
{
    ::InterlockedIncrement(m_plSharedCount);
}

win32_exception::~win32_exception()
{
    if (::InterlockedDecrement(m_plSharedCount) == 0) {
        shared_message* shared = block_of(m_plSharedCount);
        if (shared->message) {
            ::LocalFree(shared->message);
        }
        delete shared;
    }
}

const char* win32_exception::what() const noexcept
{
    if (!m_bFormatted) {
        shared_message* shared = block_of(m_plSharedCount);
        wchar_t* message = shared->message;
        if (!message && m_dwCode != 0) {
            wchar_t* text = nullptr;
            DWORD length = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                                                FORMAT_MESSAGE_FROM_SYSTEM,
                                            nullptr, m_dwCode, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
            if (length != 0 && text) {
                void* earlier = ::InterlockedCompareExchangePointer(reinterpret_cast<void* volatile*>(&shared->message),
                                                                    text, nullptr);
                if (earlier) {
                    // Another copy got there first: use its text.
                    ::LocalFree(text);
                    text = static_cast<wchar_t*>(earlier);
                }
                message = text;
            } else if (text) {
                ::LocalFree(text);
            }
        }
        m_pszMessage = message;
        m_bFormatted = true;
    }
    // UTF-16 behind a char pointer: an empty text is a wide NUL, which reads as "" both ways.
    return reinterpret_cast<const char*>(m_pszMessage ? m_pszMessage : L"");
}

} // namespace qx
