#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include "entry/LockPermissionsManager.h"
#include "msi/MsiHandle.h"
#include "msi/Views.h"

_stringx<> CQxLockPermissionsManager::FormatInstallerText(const _stringx<>& text)
{
    // Without a property reference there is nothing for the installer to expand.
    if (text.find(L'[') == _stringx<>::npos) {
        return text;
    }
    CMsiHandle record(::MsiCreateRecord(1));
    ::MsiRecordSetStringW(record, 0, text);

    _stringx<> working;
    UINT result = ReadInstallerText(working, [&](wchar_t* buffer, DWORD* size) {
        return ::MsiFormatRecordW(m_hInstall, record, buffer, size);
    });
    if (result != ERROR_SUCCESS && result != ERROR_MORE_DATA) {
        return _stringx<>();
    }
    return working;
}

_stringx<> CQxLockPermissionsManager::GetProperty(const wchar_t* name)
{
    _stringx<> value;
    ReadInstallerText(value, [&](wchar_t* buffer, DWORD* size) {
        return ::MsiGetPropertyW(m_hInstall, name, buffer, size);
    });
    return value;
}
