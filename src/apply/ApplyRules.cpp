#include "apply/ApplyRules.h"

#include <cwctype>

#include "support/platform.h"

bool AppliesThroughHelper(const PermissionsItem& item)
{
    return (item.m_dwFlags & LOCKPERM_COMPONENT_32BIT) != 0 && item.m_kind == LockObjectKind::Registry;
}

bool IsFullFileName(const _stringx<>& name)
{
    const bool drive = name.length() >= 3 && std::iswalpha(name[0]) && name[1] == L':' && name[2] == L'\\';
    const bool unc = name.length() >= 3 && name[0] == L'\\' && name[1] == L'\\';
    return drive || unc;
}

bool HasRelativeFileName(const PermissionsItem& item)
{
    return (item.m_kind == LockObjectKind::File || item.m_kind == LockObjectKind::CreateFolder) &&
           !IsFullFileName(item.m_strObjectName);
}

bool AppliesWithoutRedirection(const PermissionsItem& item, const _stringx<>& systemDirectory)
{
    if (item.m_kind != LockObjectKind::File && item.m_kind != LockObjectKind::CreateFolder) {
        return false;
    }
    return (item.m_dwFlags & LOCKPERM_COMPONENT_64BIT) != 0 || item.m_strObjectName.find(systemDirectory) == 0;
}

ObjectView RouteViewOf(const PermissionsItem& item, const _stringx<>& systemDirectory)
{
    if (AppliesThroughHelper(item)) {
        return (item.m_dwFlags & LOCKPERM_32BIT_VIEW) != 0 ? ObjectView::View32 : ObjectView::View64;
    }
    return AppliesWithoutRedirection(item, systemDirectory) ? ObjectView::View64 : ObjectView::Own;
}

SE_OBJECT_TYPE NamedObjectType(SE_OBJECT_TYPE type, ObjectView view)
{
    if (type != SE_REGISTRY_KEY || view == ObjectView::Own) {
        return type;
    }
    if (view == ObjectView::View32) {
        return SE_REGISTRY_WOW64_32KEY;
    }
    // A 64-bit process's own view is the 64-bit one.
    return sizeof(void*) == 8 ? SE_REGISTRY_KEY : kRegistryWow64Key64;
}

RedirectionOff::RedirectionOff(bool off) : m_off(off)
{
    if (m_off) {
        qx::set_fs_redirection(false);
    }
}

RedirectionOff::~RedirectionOff()
{
    if (m_off) {
        qx::set_fs_redirection(true);
    }
}
