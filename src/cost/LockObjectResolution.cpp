#include "cost/LockObjectResolution.h"

#include <msidefs.h>

#include <memory>

#include "entry/LockPermissionsManager.h"
#include "msi/Queries.h"
#include "msi/Views.h"
#include "support/paths.h"

const _stringx<> g_strRootClassesRoot(L"CLASSES_ROOT");
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

constexpr DWORD kUniversalNameBufferBytes = 520;

} // namespace

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

DWORD CQxLockPermissionsManager::BuildFinalPermissionsItems()
{
    for (LockPermissionsRow& row : m_allPermissionsItems) {
        DWORD status;
        if (row.m_strTable.equals(L"File")) {
            status = ResolveFileRow(row);
        } else if (row.m_strTable.equals(L"CreateFolder")) {
            status = ResolveCreateFolderRow(row);
        } else if (row.m_strTable.equals(L"Registry")) {
            status = ResolveRegistryRow(row);
        } else {
            Log(FormatText(L"QxLockPermissions: unknown table '%s' for lock object", row.m_strTable.c_str()));
            return ERROR_INVALID_PARAMETER;
        }
        if (status != ERROR_SUCCESS) {
            return status;
        }
    }
    return ERROR_SUCCESS;
}

bool CQxLockPermissionsManager::FlagAndFilterComponent(LockPermissionsRow& row, const _stringx<>& component,
                                                       DWORD& status)
{
    row.m_dwFlags |= QueryComponent64Bit(component) ? LOCKPERM_COMPONENT_64BIT : LOCKPERM_COMPONENT_32BIT;
    status = ERROR_SUCCESS;
    return QueryComponentInstalling(component, &status);
}

_stringx<> CQxLockPermissionsManager::GetTargetPath(const _stringx<>& directory)
{
    // Deep target folders are real; cut paths would lock the wrong object.
    _stringx<> path;
    ReadInstallerText(path, [&](wchar_t* buffer, DWORD* size) {
        return ::MsiGetTargetPathW(m_hInstall, directory.c_str(), buffer, size);
    });
    return path;
}

DWORD CQxLockPermissionsManager::ResolveFileRow(LockPermissionsRow& row)
{
    CMsiHandle fileView;
    CMsiHandle fileRecord;
    if (OpenExecuteFetch(&fileView, m_hDatabase, &fileRecord, g_strQueryFile, row.m_strLockObject.c_str()) ==
        ERROR_NO_MORE_ITEMS) {
        Log(FormatText(L"Failed to query File table for permissions on '%s'", row.m_strLockObject.c_str()));
        return ERROR_NO_MORE_ITEMS;
    }
    _stringx<> component = GetRecordString(fileRecord, kFileComponentField);
    DWORD status;
    if (!FlagAndFilterComponent(row, component, status)) {
        return status;
    }

    CMsiHandle componentView;
    CMsiHandle componentRecord;
    OpenExecuteFetch(&componentView, m_hDatabase, &componentRecord, g_strQueryComponent, component.c_str());
    _stringx<> directory = GetRecordString(componentRecord, kComponentDirectoryField);

    // FileName holds "short|long" or a single name.
    _stringx<> longName = GetRecordString(fileRecord, kFileNameField);
    std::size_t bar = longName.rfind(L'|');
    if (bar != _stringx<>::npos) {
        longName.erase(0, bar + 1);
    }
    _stringx<> objectName = GetTargetPath(directory);
    AppendPathPart(objectName, longName, L'\\');
    Log(FormatText(L"Got target for file: %s", longName.c_str()));

    ConvertToUniversalPath(objectName);
    AddItemToCustomActionData(objectName, row.m_strTable, row.m_strDomain, row.m_strUser, row.m_dwPermission,
                              row.m_dwFlags);
    return ERROR_SUCCESS;
}

DWORD CQxLockPermissionsManager::ResolveCreateFolderRow(LockPermissionsRow& row)
{
    CMsiHandle view;
    OpenExecute(&view, m_hDatabase, g_strQueryCreateFolder, row.m_strLockObject.c_str());
    CMsiHandle record;
    UINT fetched = ::MsiViewFetch(view, record.put());
    if (fetched == ERROR_NO_MORE_ITEMS) {
        Log(FormatText(L"Failed to fetch record from CreateFolder query for object '%s'",
                       row.m_strLockObject.c_str()));
        return ERROR_NO_MORE_ITEMS;
    }
    CheckMsiResult(fetched, L"MsiViewFetch");

    _stringx<> component = GetRecordString(record, kCreateFolderComponentField);
    DWORD status;
    if (!FlagAndFilterComponent(row, component, status)) {
        return status;
    }
    // The lock object key is itself the directory key; the path keeps its trailing backslash.
    _stringx<> objectName = GetTargetPath(row.m_strLockObject);
    Log(FormatText(L"Got target path %s for directory %s", objectName.c_str(), row.m_strLockObject.c_str()));

    ConvertToUniversalPath(objectName);
    AddItemToCustomActionData(objectName, row.m_strTable, row.m_strDomain, row.m_strUser, row.m_dwPermission,
                              row.m_dwFlags);
    return ERROR_SUCCESS;
}

DWORD CQxLockPermissionsManager::ResolveRegistryRow(LockPermissionsRow& row)
{
    CMsiHandle view;
    CMsiHandle record;
    if (OpenExecuteFetch(&view, m_hDatabase, &record, g_strQueryRegistry, row.m_strLockObject.c_str()) ==
        ERROR_NO_MORE_ITEMS) {
        Log(FormatText(L"Failed to query Registry table for object '%s'", row.m_strLockObject.c_str()));
        return ERROR_NO_MORE_ITEMS;
    }
    int root = ::MsiRecordGetInteger(record, kRegistryRootField);
    _stringx<> key = FormatInstallerText(GetRecordString(record, kRegistryKeyField));
    _stringx<> component = GetRecordString(record, kRegistryComponentField);
    DWORD status;
    if (!FlagAndFilterComponent(row, component, status)) {
        return status;
    }

    _stringx<> rootWord;
    switch (root) {
    case msidbRegistryRootClassesRoot:
        rootWord = g_strRootClassesRoot;
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
        rootWord = GetProperty(L"ALLUSERS").equals(L"1") ? g_strRootMachine : CurrentUserRootWord();
        break;
    default:
        Log(FormatText(L"Unknown registry root type: %x", root));
        return ERROR_INVALID_PARAMETER;
    }
    AddItemToCustomActionData(CombinePath(rootWord, key), row.m_strTable, row.m_strDomain, row.m_strUser,
                              row.m_dwPermission, row.m_dwFlags);
    return ERROR_SUCCESS;
}

_stringx<> CQxLockPermissionsManager::CurrentUserRootWord()
{
    _stringx<> word = g_strRootUsers;
    AppendPathPart(word, GetProperty(L"UserSID"), L'\\');
    return word;
}
