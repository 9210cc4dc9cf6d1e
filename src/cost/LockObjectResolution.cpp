#include "cost/LockObjectResolution.h"

#include <msidefs.h>
#include <msiquery.h>

#include <map>
#include <memory>

#include "cost/ComponentFilter.h"
#include "cost/CustomActionData.h"
#include "cost/InstallerTables.h"
#include "cost/PermissionsItem.h"
#include "cost/RowCondition.h"
#include "msi/Properties.h"
#include "support/error.h"
#include "support/paths.h"

const _stringx<> g_strRootMachine(L"MACHINE");
const _stringx<> g_strRootUsers(L"USERS");

namespace {

constexpr DWORD kUniversalNameBufferBytes = 520;

// Where the classes of either hive live.
constexpr wchar_t kClassesKey[] = L"Software\\Classes";

// The line of a key a table word's table lacks.
struct ObjectTable {
    const wchar_t* missingRecord;
};

// Indexed by LockObjectKind.
const ObjectTable kObjectTables[] = {
    {L"Failed to query File table for permissions on '%s'"},
    {L"Failed to fetch record from CreateFolder query for object '%s'"},
    {L"Failed to query Registry table for object '%s'"},
    {L"Failed to query ServiceInstall table for object '%s'"},
};

// One costing pass: every table read once, and what the installer says of a
// component, a directory or a drive asked once. The lines stay those of each row.
class CostingPass {
public:
    CostingPass(const InstallerSession& session, const std::vector<LockPermissionsRow>& rows)
        : m_session(session), m_tables(session.hDatabase, rows)
    {
    }

    void Resolve(LockObjectKind kind, LockPermissionsRow& row, _stringx<>& customActionData, const ItemWritten& written,
                 const RowSkipped& skipped);

private:
    bool Component64Bit(const _stringx<>& component);
    bool ComponentInstalling(const _stringx<>& component);
    const _stringx<>& TargetPathOf(const _stringx<>& directory);
    _stringx<> NameFile(const ObjectRecord& record);
    _stringx<> NameFolder(const LockPermissionsRow& row);
    _stringx<> NameRegistryKey(const ObjectRecord& record);
    const _stringx<>& CurrentUserRootWord();
    const _stringx<>& InstallationRootWord();

    const InstallerSession& m_session;
    InstallerTables m_tables;
    std::map<std::wstring, std::pair<INSTALLSTATE, INSTALLSTATE>> m_states;
    std::map<std::wstring, _stringx<>> m_targetPaths;
    UniversalPaths m_universal;
    std::unique_ptr<_stringx<>> m_currentUserRoot;
    std::unique_ptr<_stringx<>> m_installationRoot;
};

bool CostingPass::Component64Bit(const _stringx<>& component)
{
    const ComponentRecord* record = m_tables.Component(component);
    if (!record) {
        m_session.log.Log(FormatText(L"Failed to obtain component record for component '%s', error %x",
                                     component.c_str(), ERROR_NO_MORE_ITEMS));
        return false;
    }
    return (record->attributes & msidbComponentAttributes64bit) != 0;
}

// False drops the row. When the installer cannot tell the component's states,
// costing stops: the states are undefined, and locking some objects of the
// package and not others would go unnoticed.
bool CostingPass::ComponentInstalling(const _stringx<>& component)
{
    m_session.log.Log(FormatText(L"Attempting to determine component state for %s", component.c_str()));
    auto found = m_states.find(component.str());
    if (found == m_states.end()) {
        INSTALLSTATE installed = INSTALLSTATE_UNKNOWN;
        INSTALLSTATE action = INSTALLSTATE_UNKNOWN;
        const UINT result = ::MsiGetComponentStateW(m_session.hInstall, component.c_str(), &installed, &action);
        if (result != ERROR_SUCCESS) {
            throw qx::error(result, FormatText(L"Failed to obtain state of component '%s', error 0x%08x",
                                               component.c_str(), result));
        }
        found = m_states.emplace(component.str(), std::make_pair(installed, action)).first;
    }
    const auto [installed, action] = found->second;
    m_session.log.Log(FormatText(L"Install state of component is %x, action is %x", installed, action));
    return ComponentStatesKeepRow(installed, action);
}

// The directory's target path. A name without its folder would be resolved
// against the install action's current folder: costing stops instead.
const _stringx<>& CostingPass::TargetPathOf(const _stringx<>& directory)
{
    auto found = m_targetPaths.find(directory.str());
    if (found != m_targetPaths.end()) {
        return found->second;
    }
    _stringx<> path;
    const UINT result = GetTargetPath(m_session.hInstall, directory, path);
    if (result != ERROR_SUCCESS) {
        throw qx::error(result, FormatText(L"Failed to obtain target path for directory '%s', error %u",
                                           directory.c_str(), result));
    }
    return m_targetPaths.emplace(directory.str(), path).first->second;
}

const _stringx<>& CostingPass::CurrentUserRootWord()
{
    if (!m_currentUserRoot) {
        m_currentUserRoot = std::make_unique<_stringx<>>(g_strRootUsers);
        AppendPathPart(*m_currentUserRoot, GetProperty(m_session.hInstall, L"UserSID"), L'\\');
    }
    return *m_currentUserRoot;
}

// The root of a per-machine installation's keys, or of the installing user's.
const _stringx<>& CostingPass::InstallationRootWord()
{
    if (!m_installationRoot) {
        m_installationRoot = std::make_unique<_stringx<>>(
            GetProperty(m_session.hInstall, L"ALLUSERS").equals(L"1") ? g_strRootMachine : CurrentUserRootWord());
    }
    return *m_installationRoot;
}

_stringx<> CostingPass::NameFile(const ObjectRecord& record)
{
    // The component is known by now: one the table lacks has no state either.
    const ComponentRecord* component = m_tables.Component(record.component);
    // FileName holds "short|long" or a single name.
    _stringx<> longName = record.text;
    std::size_t bar = longName.rfind(L'|');
    if (bar != _stringx<>::npos) {
        longName.erase(0, bar + 1);
    }
    _stringx<> objectName = TargetPathOf(component ? component->directory : _stringx<>());
    AppendPathPart(objectName, longName, L'\\');
    m_session.log.Log(FormatText(L"Got target for file: %s", longName.c_str()));
    m_universal.Convert(objectName);
    return objectName;
}

_stringx<> CostingPass::NameFolder(const LockPermissionsRow& row)
{
    // The lock object key is itself the directory key; the path keeps its trailing backslash.
    _stringx<> objectName = TargetPathOf(row.m_strLockObject);
    m_session.log.Log(
        FormatText(L"Got target path %s for directory %s", objectName.c_str(), row.m_strLockObject.c_str()));
    m_universal.Convert(objectName);
    return objectName;
}

_stringx<> CostingPass::NameRegistryKey(const ObjectRecord& record)
{
    _stringx<> rootWord;
    switch (record.root) {
    case msidbRegistryRootClassesRoot:
        // The classes key the installer wrote, by its own hive: CLASSES_ROOT is each
        // caller's merge of the user's classes over the machine's, which costing (as
        // the installing user) and the install and rollback actions (as LocalSystem)
        // would see differently.
        rootWord = CombinePath(InstallationRootWord(), kClassesKey);
        break;
    case msidbRegistryRootCurrentUser:
        rootWord = CurrentUserRootWord();
        break;
    case msidbRegistryRootLocalMachine:
        rootWord = g_strRootMachine;
        break;
    case msidbRegistryRootUsers:
        rootWord = g_strRootUsers;
        break;
    case -1: // per-machine or per-user, as ALLUSERS decides
        rootWord = InstallationRootWord();
        break;
    default:
        throw qx::error(ERROR_INVALID_PARAMETER, FormatText(L"Unknown registry root type: %x", record.root));
    }
    // Registry names are named-security names already: no universal form.
    return CombinePath(rootWord, FormatInstallerText(m_session.hInstall, record.text));
}

void CostingPass::Resolve(LockObjectKind kind, LockPermissionsRow& row, _stringx<>& customActionData,
                          const ItemWritten& written, const RowSkipped& skipped)
{
    const ObjectRecord* record = m_tables.Object(kind, row.m_strLockObject);
    if (!record) {
        throw qx::error(ERROR_NO_MORE_ITEMS,
                        FormatText(kObjectTables[static_cast<DWORD>(kind)].missingRecord, row.m_strLockObject.c_str()));
    }
    const _stringx<>& component = record->component;
    row.m_dwFlags |= Component64Bit(component) ? LOCKPERM_COMPONENT_64BIT : LOCKPERM_COMPONENT_32BIT;
    if (!ComponentInstalling(component)) {
        if (skipped) {
            skipped(row, RowSkip::ComponentNotInstalled, component);
        }
        return;
    }

    _stringx<> objectName;
    switch (kind) {
    case LockObjectKind::File:
        objectName = NameFile(*record);
        break;
    case LockObjectKind::CreateFolder:
        objectName = NameFolder(row);
        break;
    case LockObjectKind::Registry:
        objectName = NameRegistryKey(*record);
        break;
    default:
        // The service control manager's name of the service, which the named-security calls take as it is.
        objectName = FormatInstallerText(m_session.hInstall, record->text);
        break;
    }
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
    CostingPass pass(session, rows);
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
        pass.Resolve(kind, row, customActionData, written, skipped);
    }
}

void UniversalPaths::Convert(_stringx<>& path)
{
    if (path.length() >= 3 && path[0] == L'\\' && path[1] == L'\\') {
        return;
    }
    const std::wstring root = GetPathRoot(path, false).str();
    auto driveType = m_driveTypes.find(root);
    if (driveType == m_driveTypes.end()) {
        driveType = m_driveTypes.emplace(root, m_calls.getDriveType(root.c_str())).first;
    }
    if (driveType->second != DRIVE_REMOTE) {
        return;
    }
    DWORD size = kUniversalNameBufferBytes;
    std::unique_ptr<BYTE[]> buffer(new BYTE[size]);
    DWORD result = m_calls.getUniversalName(path.c_str(), UNIVERSAL_NAME_INFO_LEVEL, buffer.get(), &size);
    if (result == ERROR_MORE_DATA) {
        size += 2;
        buffer.reset(new BYTE[size]);
        result = m_calls.getUniversalName(path.c_str(), UNIVERSAL_NAME_INFO_LEVEL, buffer.get(), &size);
    }
    if (result == NO_ERROR) {
        path = reinterpret_cast<const UNIVERSAL_NAME_INFOW*>(buffer.get())->lpUniversalName;
    }
}
