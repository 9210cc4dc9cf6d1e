#include "FloorCalls.h"

#include <aclapi.h>
#include <msiquery.h>
#include <objbase.h>

#include <sddl.h>

#include <cwchar>

#include "msi/MsiHandle.h"
#include "support/unique_any.h"

namespace qxbench {

namespace {

const wchar_t kLogTemplate[] = L"Qelmora [Time]: [1]";

} // namespace

ComApartment::ComApartment()
{
    ::CoInitialize(nullptr);
}

ComApartment::~ComApartment()
{
    ::CoUninitialize();
}

void LogLine(MSIHANDLE session, const std::wstring& text)
{
    qx::unique_msihandle record(::MsiCreateRecord(2));
    ::MsiRecordSetStringW(record.get(), 0, kLogTemplate);
    ::MsiRecordSetStringW(record.get(), 1, text.c_str());
    ::MsiProcessMessage(session, INSTALLMESSAGE_INFO, record.get());
}

std::wstring Field(MSIHANDLE record, UINT field)
{
    wchar_t buffer[2048];
    DWORD size = 2048;
    if (::MsiRecordGetStringW(record, field, buffer, &size) != ERROR_SUCCESS) {
        return std::wstring();
    }
    return std::wstring(buffer, size);
}

std::wstring Hex(unsigned value)
{
    wchar_t text[16];
    std::swprintf(text, 16, L"%x", value);
    return text;
}

std::wstring TargetPath(MSIHANDLE session, const std::wstring& directory)
{
    wchar_t buffer[MAX_PATH];
    DWORD size = MAX_PATH;
    if (::MsiGetTargetPathW(session, directory.c_str(), buffer, &size) == ERROR_SUCCESS) {
        return std::wstring(buffer, size);
    }
    std::wstring path(++size, L'\0');
    ::MsiGetTargetPathW(session, directory.c_str(), &path[0], &size);
    path.resize(size);
    return path;
}

std::vector<LockRow> ReadLockRows(MSIHANDLE database)
{
    std::vector<LockRow> rows;
    qx::unique_msihandle view;
    ::MsiDatabaseOpenViewW(database, L"SELECT * FROM `QXLockPermissions`", view.put());
    ::MsiViewExecute(view.get(), 0);
    for (qx::unique_msihandle record; ::MsiViewFetch(view.get(), record.put()) == ERROR_SUCCESS; record.reset()) {
        rows.push_back({Field(record.get(), 1), Field(record.get(), 2), Field(record.get(), 3), Field(record.get(), 4),
                        static_cast<DWORD>(::MsiRecordGetInteger(record.get(), 5)),
                        static_cast<DWORD>(::MsiRecordGetInteger(record.get(), 6))});
    }
    return rows;
}

void Append(std::wstring& text, const std::wstring& object, const std::wstring& table, const std::wstring& domain,
            const std::wstring& user, DWORD permission, DWORD flags)
{
    if (!text.empty()) {
        text += L'*';
    }
    text += object + L'|' + table + L'|' + domain + L'|' + user + L'|' + std::to_wstring(static_cast<int>(permission)) +
            L'|' + std::to_wstring(static_cast<int>(flags));
}

bool CaptureList(std::wstring& data, const std::wstring& path, SE_OBJECT_TYPE type)
{
    PACL dacl = nullptr;
    qx::unique_local<void> descriptor;
    std::wstring identity;
    if (type == SE_FILE_OBJECT) {
        qx::unique_file file(::CreateFileW(path.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        BY_HANDLE_FILE_INFORMATION information = {};
        if (!file || !::GetFileInformationByHandle(file.get(), &information) ||
            ::GetSecurityInfo(file.get(), type, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                              descriptor.put()) != ERROR_SUCCESS) {
            return false;
        }
        identity =
            std::to_wstring(information.dwVolumeSerialNumber) + L':' + std::to_wstring(information.nFileIndexLow);
    } else if (::GetNamedSecurityInfoW(path.c_str(), type, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                                       descriptor.put()) != ERROR_SUCCESS) {
        return false;
    }
    qx::unique_local<wchar_t> sddl;
    if (::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor.get(), SDDL_REVISION_1,
                                                               DACL_SECURITY_INFORMATION, sddl.put(), nullptr)) {
        if (!data.empty()) {
            data += L'*';
        }
        data += path + L'|' + std::to_wstring(static_cast<int>(type)) + L"|0|" + identity + L'|' + sddl.get();
        return true;
    }
    return false;
}

} // namespace qxbench
