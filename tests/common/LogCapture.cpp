#include "LogCapture.h"

namespace qxtest {

LogCapture::LogCapture()
{
    m_previousLevel = ::MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    m_previousHandler = ::MsiSetExternalUIW(&LogCapture::Handler, INSTALLLOGMODE_INFO, this);
}

LogCapture::~LogCapture()
{
    ::MsiSetExternalUIW(m_previousHandler, m_previousHandler ? INSTALLLOGMODE_INFO : 0, nullptr);
    ::MsiSetInternalUI(m_previousLevel, nullptr);
}

int WINAPI LogCapture::Handler(LPVOID context, UINT messageType, LPCWSTR message)
{
    // Our lines read "Qelmora h:mm:ss: text"; [Time] is expanded by the installer.
    const std::wstring prefix = L"Qelmora ";
    if ((messageType & 0xFF000000u) == INSTALLMESSAGE_INFO && message) {
        std::wstring line(message);
        std::size_t separator = line.find(L": ", prefix.size());
        if (line.compare(0, prefix.size(), prefix) == 0 && separator != std::wstring::npos) {
            static_cast<LogCapture*>(context)->m_messages.push_back(line.substr(separator + 2));
        }
    }
    return IDOK;
}

} // namespace qxtest
