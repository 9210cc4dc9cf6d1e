// The per-row floors: the calls of one lock row after another, and single calls
// timed alone.
#include <aclapi.h>
#include <msiquery.h>

#include <set>

#include "FloorCalls.h"
#include "Floors.h"
#include "cost/CustomActionData.h"
#include "msi/MsiHandle.h"
#include "support/unique_any.h"

namespace qxbench {

namespace {

// A query for one key, opened and executed, and its first row.
struct Fetched {
    qx::unique_msihandle view;
    qx::unique_msihandle record;
};

Fetched FetchByKey(MSIHANDLE database, const wchar_t* head, const std::wstring& key)
{
    std::wstring query = head + key + L"'";
    Fetched fetched;
    if (::MsiDatabaseOpenViewW(database, query.c_str(), fetched.view.put()) == ERROR_SUCCESS &&
        ::MsiViewExecute(fetched.view.get(), 0) == ERROR_SUCCESS) {
        ::MsiViewFetch(fetched.view.get(), fetched.record.put());
    }
    return fetched;
}

// The component's attributes and states; true when the row is kept.
bool KeepComponent(MSIHANDLE session, MSIHANDLE database, const std::wstring& component, bool* is64Bit)
{
    *is64Bit =
        (::MsiRecordGetInteger(
             FetchByKey(database, L"SELECT * FROM `Component` WHERE `Component` = '", component).record.get(), 4) &
         0x100) != 0;

    LogLine(session, L"Attempting to determine component state for " + component);
    INSTALLSTATE installed = INSTALLSTATE_UNKNOWN;
    INSTALLSTATE action = INSTALLSTATE_UNKNOWN;
    ::MsiGetComponentStateW(session, component.c_str(), &installed, &action);
    LogLine(session, L"Install state of component is " + Hex(installed) + L", action is " + Hex(action));
    return action == INSTALLSTATE_LOCAL || (installed == INSTALLSTATE_LOCAL && action != INSTALLSTATE_UNKNOWN &&
                                            action != INSTALLSTATE_ADVERTISED && action != INSTALLSTATE_ABSENT);
}

} // namespace

std::wstring CostFloor(MSIHANDLE session)
{
    ComApartment apartment;
    qx::unique_msihandle database(::MsiGetActiveDatabase(session));
    ::MsiDatabaseIsTablePersistentW(database.get(), L"QXLockPermissions");
    ::MsiDatabaseIsTablePersistentW(database.get(), L"QXLockPermissions");

    std::vector<LockRow> rows = ReadLockRows(database.get());

    std::wstring text, rollback;
    std::set<std::wstring> captured;
    auto capture = [&](const std::wstring& path, SE_OBJECT_TYPE type) {
        if (captured.insert(path).second) {
            CaptureList(rollback, path, type);
        }
    };
    for (LockRow& row : rows) {
        bool is64Bit = false;
        if (row.table == L"File") {
            Fetched file = FetchByKey(database.get(), L"SELECT * FROM `File` WHERE `File`='", row.object);
            std::wstring component = Field(file.record.get(), 2);
            if (KeepComponent(session, database.get(), component, &is64Bit)) {
                Fetched componentRow =
                    FetchByKey(database.get(), L"SELECT * FROM `Component` WHERE `Component` = '", component);
                std::wstring directory = Field(componentRow.record.get(), 3);
                std::wstring name = Field(file.record.get(), 3);
                name.erase(0, name.rfind(L'|') + 1);
                std::wstring path = TargetPath(session, directory);
                if (path.empty() || path.back() != L'\\') {
                    path += L'\\';
                }
                path += name;
                LogLine(session, L"Got target for file: " + name);
                ::GetDriveTypeW(path.substr(0, 2).c_str());
                capture(path, SE_FILE_OBJECT);
                Append(text, path, row.table, row.domain, row.user, row.permission,
                       row.flags | (is64Bit ? 0x08 : 0x16));
            }
        } else if (row.table == L"CreateFolder") {
            Fetched folder =
                FetchByKey(database.get(), L"SELECT * FROM `CreateFolder` WHERE `Directory_`='", row.object);
            if (KeepComponent(session, database.get(), Field(folder.record.get(), 2), &is64Bit)) {
                std::wstring path = TargetPath(session, row.object);
                LogLine(session, L"Got target path " + path + L" for directory " + row.object);
                ::GetDriveTypeW(path.substr(0, 2).c_str());
                capture(path, SE_FILE_OBJECT);
                Append(text, path, row.table, row.domain, row.user, row.permission,
                       row.flags | (is64Bit ? 0x08 : 0x16));
            }
        } else {
            Fetched key = FetchByKey(database.get(), L"SELECT * FROM `Registry` WHERE `Registry`='", row.object);
            ::MsiRecordGetInteger(key.record.get(), 2); // every key of the package is under HKLM
            std::wstring keyText = Field(key.record.get(), 3);
            if (KeepComponent(session, database.get(), Field(key.record.get(), 6), &is64Bit)) {
                capture(L"MACHINE\\" + keyText, SE_REGISTRY_KEY);
                Append(text, L"MACHINE\\" + keyText, row.table, row.domain, row.user, row.permission,
                       row.flags | (is64Bit ? 0x08 : 0x16));
            }
        }
    }
    ::MsiSetPropertyW(session, kInstallDataProperty, text.c_str());
    ::MsiSetPropertyW(session, kRollbackDataProperty, rollback.c_str());
    return text;
}

std::vector<FloorItem> FloorItems(const std::wstring& text)
{
    std::vector<FloorItem> items;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(L'*', start);
        if (end == std::wstring::npos) {
            end = text.size();
        }
        std::wstring fields[6];
        std::size_t at = start;
        for (int i = 0; i < 6; ++i) {
            std::size_t bar = i < 5 ? text.find(L'|', at) : end;
            fields[i] = text.substr(at, bar - at);
            at = bar + 1;
        }
        FloorItem item;
        item.name = fields[0];
        item.type = fields[1] == L"Registry" ? SE_REGISTRY_KEY : SE_FILE_OBJECT;
        item.account = fields[3] == L"Everyone" ? WinWorldSid
                       : fields[3] == L"Users"  ? WinBuiltinUsersSid
                                                : WinBuiltinAdministratorsSid;
        item.permission = static_cast<DWORD>(std::stoul(fields[4]));
        item.inheritance = fields[1] == L"File" ? NO_INHERITANCE : (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
        items.push_back(item);
        start = end + 1;
    }
    return items;
}

namespace {

// One item: the SID, the two log records (session 0: none) and the three calls.
DWORD ApplyFloorItem(MSIHANDLE session, const FloorItem& item)
{
    qx::unique_local<void> sid(::LocalAlloc(LMEM_FIXED, SECURITY_MAX_SID_SIZE));
    DWORD sidSize = SECURITY_MAX_SID_SIZE;
    ::CreateWellKnownSid(item.account, nullptr, sid.get(), &sidSize);

    EXPLICIT_ACCESS_W entry = {};
    entry.grfAccessPermissions = item.permission;
    entry.grfAccessMode = SET_ACCESS;
    entry.grfInheritance = item.inheritance;
    entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    entry.Trustee.TrusteeType = TRUSTEE_IS_UNKNOWN;
    entry.Trustee.ptstrName = static_cast<LPWSTR>(sid.get());

    std::wstring name = item.name;
    if (session) {
        LogLine(session, L"Getting existing security descriptor for '" + name + L"'");
    }
    PACL oldDacl = nullptr;
    qx::unique_local<void> descriptor;
    DWORD result = ::GetNamedSecurityInfoW(&name[0], item.type, DACL_SECURITY_INFORMATION, nullptr, nullptr, &oldDacl,
                                           nullptr, descriptor.put());
    qx::unique_local<ACL> newDacl;
    if (result == ERROR_SUCCESS) {
        result = ::SetEntriesInAclW(1, &entry, oldDacl, newDacl.put());
    }
    if (result == ERROR_SUCCESS) {
        if (session) {
            LogLine(session, L"Setting new security descriptor for '" + name + L"'");
        }
        result = ::SetNamedSecurityInfoW(&name[0], item.type, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                         newDacl.get(), nullptr);
    }
    return result;
}

double Microseconds()
{
    LARGE_INTEGER frequency, counter;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) * 1e6 / static_cast<double>(frequency.QuadPart);
}

} // namespace

DWORD InstallFloor(MSIHANDLE session, const std::vector<FloorItem>& items)
{
    ComApartment apartment;
    qx::unique_msihandle database(::MsiGetActiveDatabase(session));
    std::wstring data(MAX_PATH, L'\0');
    DWORD size = MAX_PATH;
    if (::MsiGetPropertyW(session, L"CustomActionData", &data[0], &size) == ERROR_MORE_DATA) {
        data.resize(++size);
        ::MsiGetPropertyW(session, L"CustomActionData", &data[0], &size);
    }
    wchar_t systemDirectory[MAX_PATH];
    ::GetSystemDirectoryW(systemDirectory, MAX_PATH);

    DWORD failure = ERROR_SUCCESS;
    for (const FloorItem& item : items) {
        DWORD result = ApplyFloorItem(session, item);
        if (result != ERROR_SUCCESS && failure == ERROR_SUCCESS) {
            failure = result;
        }
    }
    return failure;
}

void WarmUpSecurityCalls()
{
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring file = std::wstring(temp) + L"qxbench-warm-up.txt";
    const wchar_t keyPath[] = L"Software\\QXLockBenchWarmUp";
    qx::unique_file(::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    qx::unique_hkey key;
    ::RegCreateKeyExW(HKEY_CURRENT_USER, keyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr);
    key.reset();
    ApplyFloorItem(0, {file, SE_FILE_OBJECT, WinWorldSid, FILE_GENERIC_READ, NO_INHERITANCE});
    ApplyFloorItem(0, {std::wstring(L"CURRENT_USER\\") + keyPath, SE_REGISTRY_KEY, WinWorldSid, KEY_READ,
                       OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE});
    ::DeleteFileW(file.c_str());
    ::RegDeleteKeyW(HKEY_CURRENT_USER, keyPath);
}

CallCosts MeasureCalls(MSIHANDLE session, const std::vector<FloorItem>& items,
                       const std::vector<std::wstring>& fileKeys)
{
    const int kSamples = 300;
    CallCosts costs;
    double start = Microseconds();
    for (int i = 0; i < kSamples; ++i) {
        ::GetDriveTypeW(L"C:");
    }
    costs.driveType = (Microseconds() - start) / kSamples;

    qx::unique_msihandle database(::MsiGetActiveDatabase(session));
    int queries = 0;
    start = Microseconds();
    for (std::size_t i = 0; i < fileKeys.size() && queries < kSamples; i += fileKeys.size() / kSamples + 1, ++queries) {
        FetchByKey(database.get(), L"SELECT * FROM `File` WHERE `File`='", fileKeys[i]);
    }
    costs.keyedQuery = queries ? (Microseconds() - start) / queries : 0;

    start = Microseconds();
    for (int i = 0; i < kSamples; ++i) {
        LogLine(session, L"Attempting to determine component state for C00");
    }
    costs.logRecord = (Microseconds() - start) / kSamples;

    for (SE_OBJECT_TYPE type : {SE_FILE_OBJECT, SE_REGISTRY_KEY}) {
        int applied = 0;
        start = Microseconds();
        for (std::size_t i = 0; i < items.size() && applied < kSamples; ++i) {
            if (items[i].type == type) {
                ApplyFloorItem(0, items[i]);
                ++applied;
            }
        }
        double each = applied ? (Microseconds() - start) / applied : 0;
        (type == SE_FILE_OBJECT ? costs.fileDacl : costs.keyDacl) = each;
    }
    return costs;
}

} // namespace qxbench
