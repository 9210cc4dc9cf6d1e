#include "apply/ApplyRules.h"

#include <cwctype>

bool AppliesThroughHelper(const PermissionsItem& item)
{
    return (item.m_dwFlags & LOCKPERM_COMPONENT_32BIT) != 0 && item.m_kind == LockObjectKind::Registry;
}

bool HasRelativeFileName(const PermissionsItem& item)
{
    if (item.m_kind != LockObjectKind::File && item.m_kind != LockObjectKind::CreateFolder) {
        return false;
    }
    const _stringx<>& name = item.m_strObjectName;
    const bool drive = name.length() >= 3 && std::iswalpha(name[0]) && name[1] == L':' && name[2] == L'\\';
    const bool unc = name.length() >= 3 && name[0] == L'\\' && name[1] == L'\\';
    return !drive && !unc;
}

bool AppliesWithoutRedirection(const PermissionsItem& item, const _stringx<>& systemDirectory)
{
    if (item.m_kind != LockObjectKind::File && item.m_kind != LockObjectKind::CreateFolder) {
        return false;
    }
    return (item.m_dwFlags & LOCKPERM_COMPONENT_64BIT) != 0 || item.m_strObjectName.find(systemDirectory) == 0;
}
