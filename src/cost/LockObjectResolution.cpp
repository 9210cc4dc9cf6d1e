#include "cost/LockObjectResolution.h"

#include <msidefs.h>
#include <msiquery.h>

#include <memory>

#include "cost/ComponentFilter.h"
#include "cost/CustomActionData.h"
#include "cost/PermissionsItem.h"
#include "cost/RowCondition.h"
#include "msi/MsiHandle.h"
#include "msi/Properties.h"
#include "msi/Queries.h"
#include "msi/Views.h"
#include "support/error.h"
#include "support/paths.h"

const _stringx<> g_strRootMachine(L"MACHINE");
const _stringx<> g_strRootUsers(L"USERS");

namespace {

// Field numbers in the standard column order of the installer tables.
constexpr UINT kFileComponentField = 2;
constexpr UINT kFileNameField = 3;
constexpr UINT kComponentDirectoryField = 3;
constexpr UINT kCreateFolderComponentField = 2;
constexpr UINT kRegistryRootField = 2;
constexpr UINT kRegistryKeyField = 3;
constexpr UINT kRegistryComponentField = 6;
constexpr UINT kServiceNameField = 2;
constexpr UINT kServiceComponentField = 12;

constexpr DWORD kUniversalNameBufferBytes = 520;

// Where the classes of either hive live.
constexpr wchar_t kClassesKey[] = L"Software\\Classes";

// The name of the object whose record was fetched and whose component is being
// installed; throws qx::error with the status that ends the pass.
using NameObject = _stringx<> (*)(const InstallerSession& session, const LockPermissionsRow& row, MSIHANDLE record,
                                  const _stringx<>& component);

// What each table word resolves through: the query for the object's record, the
// line for a key the table lacks, where the record names the component, and how
// the object is named.
struct ObjectTable {
    const _stringx<>& query;
    const wchar_t* missingRecord;
    UINT componentField;
    NameObject name;
};

// The directory's target path. A name without its folder would be resolved
// against the install action's current folder: costing stops instead.
_stringx<> TargetPathOf(const InstallerSession& session, const _stringx<>& directory)
{
    _stringx<> path;
    const UINT result = GetTargetPath(session.hInstall, directory, path);
    if (result != ERROR_SUCCESS) {
        throw qx::error(result, FormatText(L"Failed to obtain target path for directory '%s', error %u",
                                           directory.c_str(), result));
    }
    return path;
}

_stringx<> CurrentUserRootWord(MSIHANDLE hInstall)
{
    _stringx<> word = g_strRootUsers;
    AppendPathPart(word, GetProperty(hInstall, L"UserSID"), L'\\');
    return word;
}

// The root of a per-machine installation's keys, or of the installing user's.
_stringx<> InstallationRootWord(MSIHANDLE hInstall)
{
    return GetProperty(hInstall, L"ALLUSERS").equals(L"1") ? g_strRootMachine : CurrentUserRootWord(hInstall);
}

_stringx<> NameFile(const InstallerSession& session, const LockPermissionsRow& /*row*/, MSIHANDLE record,
                    const _stringx<>& component)
{
    qx::unique_msihandle componentView;
    qx::unique_msihandle componentRecord;
    OpenExecuteFetch(&componentView, session.hDatabase, &componentRecord, g_strQueryComponent, component.c_str());
    _stringx<> directory = GetRecordString(componentRecord.get(), kComponentDirectoryField);

    // FileName holds "short|long" or a single name.
    _stringx<> longName = GetRecordString(record, kFileNameField);
    std::size_t bar = longName.rfind(L'|');
    if (bar != _stringx<>::npos) {
        longName.erase(0, bar + 1);
    }
    _stringx<> objectName = TargetPathOf(session, directory);
    AppendPathPart(objectName, longName, L'\\');
    session.log.Log(FormatText(L"Got target for file: %s", longName.c_str()));
    ConvertToUniversalPath(objectName);
    return objectName;
}

_stringx<> NameFolder(const InstallerSession& session, const LockPermissionsRow& row, MSIHANDLE /*record*/,
                      const _stringx<>& /*component*/)
{
    // The lock object key is itself the directory key; the path keeps its trailing backslash.
    _stringx<> objectName = TargetPathOf(session, row.m_strLockObject);
    session.log.Log(
        FormatText(L"Got target path %s for directory %s", objectName.c_str(), row.m_strLockObject.c_str()));
    ConvertToUniversalPath(objectName);
    return objectName;
}

_stringx<> NameRegistryKey(const InstallerSession& session, const LockPermissionsRow& /*row*/, MSIHANDLE record,
                           const _stringx<>& /*component*/)
{
    const int root = ::MsiRecordGetInteger(record, kRegistryRootField);
    _stringx<> rootWord;
    switch (root) {
    case msidbRegistryRootClassesRoot:
        // The classes key the installer wrote, by its own hive: CLASSES_ROOT is each
        // caller's merge of the user's classes over the machine's, which costing (as
        // the installing user) and the install and rollback actions (as LocalSystem)
        // would see differently.
        rootWord = CombinePath(InstallationRootWord(session.hInstall), kClassesKey);
        break;
    case msidbRegistryRootCurrentUser:
        rootWord = CurrentUserRootWord(session.hInstall);
        break;
    case msidbRegistryRootLocalMachine:
        rootWord = g_strRootMachine;
        break;
    case msidbRegistryRootUsers:
        rootWord = g_strRootUsers;
        break;
    case -1: // per-machine or per-user, as ALLUSERS decides
        rootWord = InstallationRootWord(session.hInstall);
        break;
    default:
        throw qx::error(ERROR_INVALID_PARAMETER, FormatText(L"Unknown registry root type: %x", root));
    }
    // Registry names are named-security names already: no universal form.
    return CombinePath(rootWord, FormatInstallerText(session.hInstall, GetRecordString(record, kRegistryKeyField)));
}

_stringx<> NameService(const InstallerSession& session, const LockPermissionsRow& /*row*/, MSIHANDLE record,
                       const _stringx<>& /*component*/)
{
    // The service control manager's name of the service, which the named-security calls take as it is.
    return FormatInstallerText(session.hInstall, GetRecordString(record, kServiceNameField));
}

// Indexed by LockObjectKind.
const ObjectTable kObjectTables[] = {
    {g_strQueryFile, L"Failed to query File table for permissions on '%s'", kFileComponentField, &NameFile},
    {g_strQueryCreateFolder, L"Failed to fetch record from CreateFolder query for object '%s'",
     kCreateFolderComponentField, &NameFolder},
    {g_strQueryRegistry, L"Failed to query Registry table for object '%s'", kRegistryComponentField, &NameRegistryKey},
    {g_strQueryServiceInstall, L"Failed to query ServiceInstall table for object '%s'", kServiceComponentField,
     &NameService},
};

void ResolveRow(const InstallerSession& session, LockObjectKind kind, LockPermissionsRow& row,
                _stringx<>& customActionData, const ItemWritten& written, const RowSkipped& skipped)
{
    const ObjectTable& table = kObjectTables[static_cast<DWORD>(kind)];
    // Only the first record counts (a folder may have several CreateFolder rows).
    qx::unique_msihandle view;
    qx::unique_msihandle record;
    if (OpenExecuteFetch(&view, session.hDatabase, &record, table.query, row.m_strLockObject.c_str()) ==
        ERROR_NO_MORE_ITEMS) {
        throw qx::error(ERROR_NO_MORE_ITEMS, FormatText(table.missingRecord, row.m_strLockObject.c_str()));
    }
    const _stringx<> component = GetRecordString(record.get(), table.componentField);

    row.m_dwFlags |= QueryComponent64Bit(session, component) ? LOCKPERM_COMPONENT_64BIT : LOCKPERM_COMPONENT_32BIT;
    if (!QueryComponentInstalling(session, component)) {
        if (skipped) {
            skipped(row, RowSkip::ComponentNotInstalled, component);
        }
        return;
    }

    const _stringx<> objectName = table.name(session, row, record.get(), component);
    AddItemToCustomActionData(customActionData, objectName, row.m_strTable, row.m_strDomain, row.m_strUser,
                              row.m_dwPermission, row.m_dwFlags);
    if (written) {
        PermissionsItem item;
        item.m_strObjectName = objectName;
        item.m_kind = kind;
        item.m_objectType = ObjectTypeForKind(kind);
        item.m_strDomain = row.m_strDomain;
        item.m_strUser = row.m_strUser;
        item.m_dwPermission = row.m_dwPermission;
        item.m_dwFlags = row.m_dwFlags;
        written(item);
    }
}

} // namespace

void BuildFinalPermissionsItems(const InstallerSession& session, std::vector<LockPermissionsRow>& rows,
                                _stringx<>& customActionData, const ItemWritten& written, const RowSkipped& skipped)
{
    for (LockPermissionsRow& row : rows) {
        if (!RowConditionHolds(session, row)) {
            if (skipped) {
                skipped(row, RowSkip::ConditionFalse, _stringx<>());
            }
            continue;
        }
        const LockObjectKind kind = LockObjectKindFromTable(row.m_strTable.c_str(), row.m_strTable.length());
        if (kind == LockObjectKind::Unknown) {
            throw qx::error(
                ERROR_INVALID_PARAMETER,
                FormatText(L"QxLockPermissions: unknown table '%s' for lock object", row.m_strTable.c_str()));
        }
        ResolveRow(session, kind, row, customActionData, written, skipped);
    }
}

void ConvertToUniversalPath(_stringx<>& path, const UniversalNameCalls& calls)
{
    if (path.length() >= 3 && path[0] == L'\\' && path[1] == L'\\') {
        return;
    }
    _stringx<> root = GetPathRoot(path, false);
    if (calls.getDriveType(root.c_str()) != DRIVE_REMOTE) {
        return;
    }
    DWORD size = kUniversalNameBufferBytes;
    std::unique_ptr<BYTE[]> buffer(new BYTE[size]);
    DWORD result = calls.getUniversalName(path.c_str(), UNIVERSAL_NAME_INFO_LEVEL, buffer.get(), &size);
    if (result == ERROR_MORE_DATA) {
        size += 2;
        buffer.reset(new BYTE[size]);
        result = calls.getUniversalName(path.c_str(), UNIVERSAL_NAME_INFO_LEVEL, buffer.get(), &size);
    }
    if (result == NO_ERROR) {
        path = reinterpret_cast<const UNIVERSAL_NAME_INFOW*>(buffer.get())->lpUniversalName;
    }
}
