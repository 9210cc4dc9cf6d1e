#include "cost/InstallerTables.h"

#include <msiquery.h>

#include "msi/MsiHandle.h"
#include "msi/Views.h"

namespace {

// Each kind's table with the columns costing reads: key, component, then the
// name's text and, for the Registry table, the root.
const wchar_t* const kObjectQueries[] = {
    L"SELECT `File`, `Component_`, `FileName` FROM `File`",
    L"SELECT `Directory_`, `Component_` FROM `CreateFolder`",
    L"SELECT `Registry`, `Component_`, `Key`, `Root` FROM `Registry`",
    L"SELECT `ServiceInstall`, `Component_`, `Name` FROM `ServiceInstall`",
};
const wchar_t kComponentQuery[] = L"SELECT `Component`, `Directory_`, `Attributes` FROM `Component`";

} // namespace

InstallerTables::InstallerTables(MSIHANDLE database, const std::vector<LockPermissionsRow>& rows) : m_database(database)
{
    for (const LockPermissionsRow& row : rows) {
        const LockObjectKind kind = LockObjectKindFromTable(row.m_strTable.c_str(), row.m_strTable.length());
        if (kind != LockObjectKind::Unknown) {
            m_keys[static_cast<std::size_t>(kind)].insert(row.m_strLockObject.str());
        }
    }
}

const ObjectRecord* InstallerTables::Object(LockObjectKind kind, const _stringx<>& key)
{
    const std::size_t index = static_cast<std::size_t>(kind);
    auto& objects = m_objects[index];
    if (!m_read[index]) {
        m_read[index] = true;
        qx::unique_msihandle view;
        OpenExecute(&view, m_database, kObjectQueries[index]);
        ForEachRecord(view.get(), [&](MSIHANDLE record) {
            std::wstring rowKey = GetRecordString(record, 1);
            // Only the first row of a key counts, as a keyed query's first record would.
            if (m_keys[index].count(rowKey) == 0 || objects.count(rowKey) != 0) {
                return;
            }
            ObjectRecord& object = objects[rowKey];
            object.component = GetRecordString(record, 2);
            if (kind != LockObjectKind::CreateFolder) {
                object.text = GetRecordString(record, 3);
            }
            if (kind == LockObjectKind::Registry) {
                object.root = ::MsiRecordGetInteger(record, 4);
            }
            m_wantedComponents.insert(object.component.str());
        });
        m_keys[index].clear();
    }
    auto found = objects.find(key.str());
    return found == objects.end() ? nullptr : &found->second;
}

const ComponentRecord* InstallerTables::Component(const _stringx<>& name)
{
    if (m_askedComponents.count(name.str()) == 0) {
        std::set<std::wstring> wanted;
        for (const std::wstring& component : m_wantedComponents) {
            if (m_askedComponents.insert(component).second) {
                wanted.insert(component);
            }
        }
        if (m_askedComponents.insert(name.str()).second) {
            wanted.insert(name.str());
        }
        qx::unique_msihandle view;
        OpenExecute(&view, m_database, kComponentQuery);
        ForEachRecord(view.get(), [&](MSIHANDLE record) {
            std::wstring component = GetRecordString(record, 1);
            if (wanted.count(component) != 0) {
                m_components[component] = {GetRecordString(record, 2), ::MsiRecordGetInteger(record, 3)};
            }
        });
    }
    auto found = m_components.find(name.str());
    return found == m_components.end() ? nullptr : &found->second;
}
