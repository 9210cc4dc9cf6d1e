// The rows of the installer tables that costing needs, each table read in one pass
// when a lock row first needs it, keeping only the rows the lock table names.
#pragma once

#include <windows.h>
#include <msi.h>

#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "cost/PermissionsItem.h"
#include "msi/LockPermissionsRow.h"
#include "support/stringx.h"

// What costing takes from an object's row: its component, and for a file its
// FileName, for a registry key its Key and Root, for a service its Name.
struct ObjectRecord {
    _stringx<> component;
    _stringx<> text;
    int root = 0;
};

struct ComponentRecord {
    _stringx<> directory;
    int attributes = 0;
};

class InstallerTables {
public:
    // The keys the rows name, by kind; rows of an unknown table word name nothing.
    InstallerTables(MSIHANDLE database, const std::vector<LockPermissionsRow>& rows);

    // The object's row (for CreateFolder, the first of its directory), or null when
    // the table has none. A table that cannot be read raises the installer's error.
    const ObjectRecord* Object(LockObjectKind kind, const _stringx<>& key);
    // The component's row, or null when the Component table has none.
    const ComponentRecord* Component(const _stringx<>& name);

private:
    MSIHANDLE m_database;
    static constexpr std::size_t kKinds = 4;
    std::set<std::wstring> m_keys[kKinds];
    bool m_read[kKinds] = {};
    std::unordered_map<std::wstring, ObjectRecord> m_objects[kKinds];
    // Components named by the object rows read so far, and those the Component
    // table was read for; a component first named by a later table costs one more pass.
    std::set<std::wstring> m_wantedComponents;
    std::set<std::wstring> m_askedComponents;
    std::unordered_map<std::wstring, ComponentRecord> m_components;
};
