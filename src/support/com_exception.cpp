#include "support/com_exception.h"

#include <oleauto.h>

#include "support/com_ptr.h"
#include "support/unique_any.h"
#include "support/system_message.h"

com_exception::com_exception(HRESULT error) : std::exception(), hr(error)
{
    // GetErrorInfo hands the thread's error information over and clears it:
    // the first exception made after a failure is the one that carries it.
    qx::com_ptr<IErrorInfo> info;
    if (::GetErrorInfo(0, info.put()) == S_OK && info) {
        qx::unique_bstr description;
        if (SUCCEEDED(info->GetDescription(description.put())) && description) {
            m_strDescription.assign(description.get(), ::SysStringLen(description.get()));
        }
        if (FAILED(info->GetGUID(&m_iid))) {
            m_iid = GUID{};
        }
        qx::unique_bstr source;
        if (SUCCEEDED(info->GetSource(source.put())) && source) {
            m_strSource.assign(source.get(), ::SysStringLen(source.get()));
        }
        if (FAILED(::CLSIDFromProgID(m_strSource.c_str(), &m_clsid))) {
            m_clsid = CLSID{};
        }
        return;
    }
    m_strDescription = qx::system_message(static_cast<DWORD>(hr));
    if (m_strDescription.empty()) {
        m_strDescription = L"Unknown error";
    }
}

com_exception::com_exception(const com_exception& other)
    : std::exception(), hr(other.hr), m_iid(other.m_iid), m_clsid(other.m_clsid),
      m_strDescription(other.m_strDescription), m_strSource(other.m_strSource)
{
}

com_exception::~com_exception() = default;

const char* com_exception::what() const noexcept
{
    try {
        return m_strDescription.narrow();
    } catch (...) {
        // No memory for the narrow copy: an empty message is better than terminating.
        return "";
    }
}
