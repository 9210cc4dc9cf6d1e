#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include "msi/MsiHandle.h"
#include "msi/Views.h"
#include "support/error.h"
#include "support/system_message.h"

namespace {

// Expands an error record that carries no template of its own.
const wchar_t kInstallerErrorTemplate[] = L"Windows Installer Error [1]: [2]{, [3]}{, [4]}{, [5]}\n";

HRESULT HresultFromInstallerResult(UINT result)
{
    if (static_cast<int>(result) > 0) {
        return static_cast<HRESULT>(0x80070000u | (result & 0xFFFFu));
    }
    return static_cast<HRESULT>(result);
}

_stringx<> InstallerErrorText(HRESULT hr)
{
    qx::unique_msihandle record(::MsiGetLastErrorRecord());
    if (!record) {
        return qx::system_message(static_cast<DWORD>(hr));
    }
    if (::MsiRecordIsNull(record.get(), 0)) {
        CheckMsiResult(::MsiRecordSetStringW(record.get(), 0, kInstallerErrorTemplate), L"MsiRecordSetString");
    }
    wchar_t text[1024] = {};
    DWORD size = 1024;
    // One attempt: a longer text is cut rather than retried.
    ::MsiFormatRecordW(0, record.get(), text, &size);
    return _stringx<>(text);
}

} // namespace

void CheckMsiResult(UINT result, const wchar_t* operation, const wchar_t* argument1, const wchar_t* argument2)
{
    if (result == ERROR_SUCCESS) {
        return;
    }
    const HRESULT hr = HresultFromInstallerResult(result);
    const _stringx<> errorText = InstallerErrorText(hr);

    const wchar_t* pattern = L"%s%s()";
    if (*argument1 != L'\0') {
        pattern = *argument2 != L'\0' ? L"%s%s(%s, %s)" : L"%s%s(%s)";
    }
    throw qx::installer_error(hr, FormatText(pattern, errorText.c_str(), operation, argument1, argument2));
}
