#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <oleauto.h>

#include <cwchar>
#include <vector>

#include "msi/MsiHandle.h"
#include "msi/Views.h"
#include "support/com_exception.h"
#include "support/com_ptr.h"
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

// Leaves the description as the thread's error information, where the
// exception's constructor picks it up again.
void SetThreadErrorDescription(const wchar_t* description)
{
    qx::com_ptr<ICreateErrorInfo> create;
    HRESULT hr = ::CreateErrorInfo(create.put());
    if (FAILED(hr)) {
        throw com_exception(hr);
    }
    hr = create->SetDescription(const_cast<LPOLESTR>(description));
    if (FAILED(hr)) {
        throw com_exception(hr);
    }
    qx::com_ptr<IErrorInfo> info;
    hr = create->QueryInterface(IID_IErrorInfo, info.put_void());
    if (FAILED(hr)) {
        throw com_exception(hr);
    }
    hr = ::SetErrorInfo(0, info.get());
    if (FAILED(hr)) {
        throw com_exception(hr);
    }
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
    std::vector<wchar_t> description(errorText.length() + std::wcslen(operation) + std::wcslen(argument1) +
                                     std::wcslen(argument2) + 10);
    ::wsprintfW(description.data(), pattern, errorText.c_str(), operation, argument1, argument2);

    SetThreadErrorDescription(description.data());
    throw com_exception(hr);
}
