// The work the two actions cannot do without, in plain platform calls: each table
// the lock rows need read in one pass, what the installer says of a component, a
// directory or a drive asked once, and at install one read, one merge and one
// write per object.
#include <aclapi.h>
#include <msiquery.h>

#include <map>
#include <unordered_map>
#include <unordered_set>

#include "FloorCalls.h"
#include "Floors.h"
#include "cost/CustomActionData.h"
#include "msi/MsiHandle.h"
#include "support/unique_any.h"

namespace qxbench {

namespace {

// Runs a query and hands each of its rows to read, fetched once.
template <class Read> void ForEachRow(MSIHANDLE database, const wchar_t* query, Read read)
{
    qx::unique_msihandle view;
    if (::MsiDatabaseOpenViewW(database, query, view.put()) != ERROR_SUCCESS ||
        ::MsiViewExecute(view.get(), 0) != ERROR_SUCCESS) {
        return;
    }
    for (qx::unique_msihandle record; ::MsiViewFetch(view.get(), record.put()) == ERROR_SUCCESS; record.reset()) {
        read(record.get());
    }
}

// A row of File, CreateFolder, Registry or Component: the columns costing needs.
struct TableRow {
    std::wstring component; // Directory_ for a component
    std::wstring text;      // FileName, or the key's text
    int number = 0;         // the key's root, or the component's attributes
};
using Table = std::unordered_map<std::wstring, TableRow>;

Table ReadTable(MSIHANDLE database, const wchar_t* query, bool text, UINT numberField)
{
    Table table;
    ForEachRow(database, query, [&](MSIHANDLE record) {
        TableRow row{Field(record, 2), text ? Field(record, 3) : std::wstring(),
                     numberField ? ::MsiRecordGetInteger(record, numberField) : 0};
        table.emplace(Field(record, 1), std::move(row));
    });
    return table;
}

class CostPass {
public:
    CostPass(MSIHANDLE session, MSIHANDLE database, const std::vector<LockRow>& rows) : m_session(session)
    {
        bool needs[3] = {};
        for (const LockRow& row : rows) {
            needs[0] |= row.table == L"File";
            needs[1] |= row.table == L"CreateFolder";
            needs[2] |= row.table == L"Registry";
        }
        if (needs[0]) {
            m_files = ReadTable(database, L"SELECT `File`, `Component_`, `FileName` FROM `File`", true, 0);
        }
        if (needs[1]) {
            m_folders = ReadTable(database, L"SELECT `Directory_`, `Component_` FROM `CreateFolder`", false, 0);
        }
        if (needs[2]) {
            m_keys = ReadTable(database, L"SELECT `Registry`, `Component_`, `Key`, `Root` FROM `Registry`", true, 4);
        }
        m_components =
            ReadTable(database, L"SELECT `Component`, `Directory_`, `Attributes` FROM `Component`", false, 3);
    }

    void Resolve(const LockRow& row)
    {
        const bool file = row.table == L"File";
        const bool folder = row.table == L"CreateFolder";
        const Table& table = file ? m_files : folder ? m_folders : m_keys;
        auto object = table.find(row.object);
        auto component = object == table.end() ? m_components.end() : m_components.find(object->second.component);
        if (component == m_components.end()) {
            return; // not in the benchmark's packages
        }
        const bool is64Bit = (component->second.number & 0x100) != 0;
        if (!KeepComponent(object->second.component)) {
            return;
        }
        std::wstring path;
        if (file) {
            std::wstring name = object->second.text.substr(object->second.text.rfind(L'|') + 1);
            path = TargetPathOf(component->second.component);
            if (path.empty() || path.back() != L'\\') {
                path += L'\\';
            }
            path += name;
            LogLine(m_session, L"Got target for file: " + name);
        } else if (folder) {
            path = TargetPathOf(row.object);
            LogLine(m_session, L"Got target path " + path + L" for directory " + row.object);
        } else {
            path = L"MACHINE\\" + object->second.text; // every key of the package is under HKLM
        }
        if (file || folder) {
            std::wstring root = path.substr(0, 2);
            if (m_driveTypes.count(root) == 0) {
                m_driveTypes.emplace(root, ::GetDriveTypeW(root.c_str()));
            }
        }
        if (m_captured.insert(path).second) {
            CaptureList(m_rollback, path, file || folder ? SE_FILE_OBJECT : SE_REGISTRY_KEY);
        }
        Append(m_text, path, row.table, row.domain, row.user, row.permission, row.flags | (is64Bit ? 0x08 : 0x16));
    }

    const std::wstring& Text() const { return m_text; }
    const std::wstring& Rollback() const { return m_rollback; }

private:
    bool KeepComponent(const std::wstring& component)
    {
        LogLine(m_session, L"Attempting to determine component state for " + component);
        auto found = m_states.find(component);
        if (found == m_states.end()) {
            INSTALLSTATE installed = INSTALLSTATE_UNKNOWN;
            INSTALLSTATE action = INSTALLSTATE_UNKNOWN;
            ::MsiGetComponentStateW(m_session, component.c_str(), &installed, &action);
            found = m_states.emplace(component, std::make_pair(installed, action)).first;
        }
        const auto [installed, action] = found->second;
        LogLine(m_session, L"Install state of component is " + Hex(installed) + L", action is " + Hex(action));
        return action == INSTALLSTATE_LOCAL || (installed == INSTALLSTATE_LOCAL && action != INSTALLSTATE_UNKNOWN &&
                                                action != INSTALLSTATE_ADVERTISED && action != INSTALLSTATE_ABSENT);
    }

    const std::wstring& TargetPathOf(const std::wstring& directory)
    {
        auto found = m_targetPaths.find(directory);
        if (found == m_targetPaths.end()) {
            found = m_targetPaths.emplace(directory, TargetPath(m_session, directory)).first;
        }
        return found->second;
    }

    MSIHANDLE m_session;
    Table m_files, m_folders, m_keys, m_components;
    std::unordered_map<std::wstring, std::pair<INSTALLSTATE, INSTALLSTATE>> m_states;
    std::unordered_map<std::wstring, std::wstring> m_targetPaths;
    std::unordered_map<std::wstring, UINT> m_driveTypes;
    std::unordered_set<std::wstring> m_captured;
    std::wstring m_text, m_rollback;
};

} // namespace

std::wstring CostUnavoidableFloor(MSIHANDLE session)
{
    ComApartment apartment;
    qx::unique_msihandle database(::MsiGetActiveDatabase(session));
    ::MsiDatabaseIsTablePersistentW(database.get(), L"QXLockPermissions");
    const std::vector<LockRow> rows = ReadLockRows(database.get());
    CostPass pass(session, database.get(), rows);
    for (const LockRow& row : rows) {
        pass.Resolve(row);
    }
    ::MsiSetPropertyW(session, kInstallDataProperty, pass.Text().c_str());
    ::MsiSetPropertyW(session, kRollbackDataProperty, pass.Rollback().c_str());
    return pass.Text();
}

DWORD InstallUnavoidableFloor(MSIHANDLE session, const std::vector<FloorItem>& items)
{
    ComApartment apartment;
    std::wstring data(MAX_PATH, L'\0');
    DWORD size = MAX_PATH;
    if (::MsiGetPropertyW(session, L"CustomActionData", &data[0], &size) == ERROR_MORE_DATA) {
        data.resize(++size);
        ::MsiGetPropertyW(session, L"CustomActionData", &data[0], &size);
    }

    // The objects in the order of their first item, each with its items.
    std::unordered_map<std::wstring, std::size_t> indexes;
    std::vector<std::vector<const FloorItem*>> objects;
    for (const FloorItem& item : items) {
        auto found = indexes.emplace(item.name + L'|' + std::to_wstring(item.type), objects.size()).first;
        if (found->second == objects.size()) {
            objects.emplace_back();
        }
        objects[found->second].push_back(&item);
    }
    std::map<WELL_KNOWN_SID_TYPE, qx::unique_local<void>> sids;
    auto sidOf = [&sids](WELL_KNOWN_SID_TYPE account) {
        qx::unique_local<void>& sid = sids[account];
        if (!sid) {
            sid.reset(::LocalAlloc(LMEM_FIXED, SECURITY_MAX_SID_SIZE));
            DWORD sidSize = SECURITY_MAX_SID_SIZE;
            ::CreateWellKnownSid(account, nullptr, sid.get(), &sidSize);
        }
        return sid.get();
    };

    DWORD failure = ERROR_SUCCESS;
    std::vector<EXPLICIT_ACCESS_W> entries;
    for (const std::vector<const FloorItem*>& object : objects) {
        std::wstring name = object.front()->name;
        entries.clear();
        LogLine(session, L"Getting existing security descriptor for '" + name + L"'");
        for (const FloorItem* item : object) {
            EXPLICIT_ACCESS_W entry = {};
            entry.grfAccessPermissions = item->permission;
            entry.grfAccessMode = SET_ACCESS;
            entry.grfInheritance = item->inheritance;
            entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
            entry.Trustee.TrusteeType = TRUSTEE_IS_UNKNOWN;
            entry.Trustee.ptstrName = static_cast<LPWSTR>(sidOf(item->account));
            entries.push_back(entry);
        }
        PACL oldDacl = nullptr;
        qx::unique_local<void> descriptor;
        DWORD result = ::GetNamedSecurityInfoW(&name[0], object.front()->type, DACL_SECURITY_INFORMATION, nullptr,
                                               nullptr, &oldDacl, nullptr, descriptor.put());
        qx::unique_local<ACL> newDacl;
        if (result == ERROR_SUCCESS) {
            result = ::SetEntriesInAclW(static_cast<ULONG>(entries.size()), entries.data(), oldDacl, newDacl.put());
        }
        if (result == ERROR_SUCCESS) {
            LogLine(session, L"Setting new security descriptor for '" + name + L"'");
            result = ::SetNamedSecurityInfoW(&name[0], object.front()->type, DACL_SECURITY_INFORMATION, nullptr,
                                             nullptr, newDacl.get(), nullptr);
        }
        if (result != ERROR_SUCCESS && failure == ERROR_SUCCESS) {
            failure = result;
        }
    }
    return failure;
}

} // namespace qxbench
