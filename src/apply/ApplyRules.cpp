#include "apply/ApplyRules.h"

bool AppliesThroughHelper(const PermissionsItem& item)
{
    return (item.m_dwFlags & LOCKPERM_COMPONENT_32BIT) != 0 && item.m_kind == LockObjectKind::Registry;
}

bool AppliesWithoutRedirection(const PermissionsItem& item, const _stringx<>& systemDirectory)
{
    if (item.m_kind != LockObjectKind::File && item.m_kind != LockObjectKind::CreateFolder) {
        return false;
    }
    return (item.m_dwFlags & LOCKPERM_COMPONENT_64BIT) != 0 || item.m_strObjectName.find(systemDirectory) == 0;
}
