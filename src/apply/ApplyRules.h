// Where and how an item is applied, decided from its kind and flags alone.
#pragma once

#include <windows.h>

#include "cost/PermissionsItem.h"
#include "support/stringx.h"

// Registry items with any bit of LOCKPERM_COMPONENT_32BIT belong to the other
// registry view, which only the 64-bit helper process reaches.
bool AppliesThroughHelper(const PermissionsItem& item);

// A full file name: a drive letter, a colon and a backslash, or a UNC name (two
// backslashes). The system would resolve any other against the current folder of
// the action, normally the system folder.
bool IsFullFileName(const _stringx<>& name);
// A file or folder item whose name is not a full one.
bool HasRelativeFileName(const PermissionsItem& item);

// Files and folders of 64-bit components, and anything under the system
// directory, must reach the native file system rather than the WOW64 view.
// An empty system directory matches every name.
bool AppliesWithoutRedirection(const PermissionsItem& item, const _stringx<>& systemDirectory);

// Where the install action's route reaches an item's object: in the view of this
// process, or in the 32-bit or the 64-bit (native) one. A registry key that goes
// to the helper is in the helper's view of it (32-bit for a component without the
// 64-bit attribute); a file or folder applied with redirection switched off is in
// the native view.
enum class ObjectView : DWORD {
    Own = 0,
    View32 = 32,
    View64 = 64,
};
ObjectView RouteViewOf(const PermissionsItem& item, const _stringx<>& systemDirectory);

// A key of the 64-bit view seen from a 32-bit process; not in every SDK's enumeration.
constexpr SE_OBJECT_TYPE kRegistryWow64Key64 = static_cast<SE_OBJECT_TYPE>(13);

// The object type that the named-security calls of this process take for an
// object of the type seen from the view (SE_REGISTRY_WOW64_32KEY for a key of the
// 32-bit view, and so on).
SE_OBJECT_TYPE NamedObjectType(SE_OBJECT_TYPE type, ObjectView view);

// Switches WOW64 file-system redirection off while it lives, when asked to, and
// back even when what it guards throws.
class RedirectionOff {
public:
    explicit RedirectionOff(bool off = true);
    RedirectionOff(const RedirectionOff&) = delete;
    RedirectionOff& operator=(const RedirectionOff&) = delete;
    ~RedirectionOff();

private:
    bool m_off;
};
