#include "support/error.h"

#include <utility>

namespace qx {

error::error(DWORD code, _stringx<> message) : m_code(code), m_message(std::move(message))
{
    const int length = static_cast<int>(m_message.length());
    const int bytes = ::WideCharToMultiByte(CP_ACP, 0, m_message.c_str(), length, nullptr, 0, nullptr, nullptr);
    if (bytes > 0) {
        m_what.resize(static_cast<std::size_t>(bytes));
        ::WideCharToMultiByte(CP_ACP, 0, m_message.c_str(), length, &m_what[0], bytes, nullptr, nullptr);
    }
}

void throw_if_failed(HRESULT hr, const wchar_t* operation)
{
    if (FAILED(hr)) {
        throw error(hr, FormatText(L"%s failed", operation));
    }
}

} // namespace qx
