#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include "entry/LockPermissionsManager.h"
#include "msi/MsiHandle.h"

namespace {

const DWORD kInitialCapacity = 260;

} // namespace

_stringx<> CQxLockPermissionsManager::FormatInstallerText(const _stringx<>& text)
{
    // Without a property reference there is nothing for the installer to expand.
    if (text.find(L'[') == _stringx<>::npos) {
        return text;
    }
    CMsiHandle record(::MsiCreateRecord(1));
    ::MsiRecordSetStringW(record, 0, text);

    _stringx<> working;
    working.resize(kInitialCapacity);
    DWORD size = kInitialCapacity;
    UINT result;
    {
        _stringx<>::string_buffer buffer(working);
        result = ::MsiFormatRecordW(m_hInstall, record, buffer.get(), &size);
    }
    if (result == ERROR_MORE_DATA) {
        ++size; // the reported size leaves out the terminator
        if (working.length() < size) {
            working.resize(size);
        }
        _stringx<>::string_buffer buffer(working);
        ::MsiFormatRecordW(m_hInstall, record, buffer.get(), &size);
    } else if (result != ERROR_SUCCESS) {
        return _stringx<>();
    }
    return working;
}

_stringx<> CQxLockPermissionsManager::GetProperty(const wchar_t* name)
{
    _stringx<> value;
    value.resize(kInitialCapacity);
    DWORD size = kInitialCapacity;
    UINT result;
    {
        _stringx<>::string_buffer buffer(value);
        result = ::MsiGetPropertyW(m_hInstall, name, buffer.get(), &size);
    }
    if (result == ERROR_MORE_DATA) {
        ++size; // the reported size leaves out the terminator
        value.resize(size);
        _stringx<>::string_buffer buffer(value);
        ::MsiGetPropertyW(m_hInstall, name, buffer.get(), &size);
    }
    return value;
}
