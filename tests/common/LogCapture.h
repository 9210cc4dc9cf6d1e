// The library's log lines as the installer hands them to an external user
// interface, for tests that assert what an action logged.
#pragma once

#include <windows.h>
#include <msi.h>

#include <string>
#include <vector>

namespace qxtest {

// The library's log lines while the object lives, without the "Qelmora <time>: " prefix.
class LogCapture {
public:
    LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
    ~LogCapture();

    const std::vector<std::wstring>& LibraryMessages() const noexcept { return m_messages; }
    void Clear() { m_messages.clear(); }

private:
    static int WINAPI Handler(LPVOID context, UINT messageType, LPCWSTR message);

    std::vector<std::wstring> m_messages;
    INSTALLUI_HANDLERW m_previousHandler = nullptr;
    INSTALLUILEVEL m_previousLevel = INSTALLUILEVEL_NOCHANGE;
};

} // namespace qxtest
