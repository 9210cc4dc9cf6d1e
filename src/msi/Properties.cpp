#include "msi/Properties.h"

#include <msiquery.h>

#include "msi/MsiHandle.h"
#include "msi/Views.h"

_stringx<> FormatInstallerText(MSIHANDLE hInstall, const _stringx<>& text)
{
    // Without a property reference there is nothing for the installer to expand.
    if (text.find(L'[') == _stringx<>::npos) {
        return text;
    }
    qx::unique_msihandle record(::MsiCreateRecord(1));
    ::MsiRecordSetStringW(record.get(), 0, text);

    _stringx<> working;
    UINT result = ReadInstallerText(working, [&](wchar_t* buffer, DWORD* size) {
        return ::MsiFormatRecordW(hInstall, record.get(), buffer, size);
    });
    if (result != ERROR_SUCCESS && result != ERROR_MORE_DATA) {
        return _stringx<>();
    }
    return working;
}

_stringx<> GetProperty(MSIHANDLE hInstall, const wchar_t* name)
{
    _stringx<> value;
    ReadInstallerText(value,
                      [&](wchar_t* buffer, DWORD* size) { return ::MsiGetPropertyW(hInstall, name, buffer, size); });
    return value;
}

UINT GetTargetPath(MSIHANDLE hInstall, const _stringx<>& directory, _stringx<>& path)
{
    // Deep target folders are real; cut paths would lock the wrong object.
    UINT result = ReadInstallerText(path, [&](wchar_t* buffer, DWORD* size) {
        return ::MsiGetTargetPathW(hInstall, directory.c_str(), buffer, size);
    });
    return result == ERROR_MORE_DATA ? ERROR_SUCCESS : result;
}
