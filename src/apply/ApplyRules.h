// Where and how an item is applied, decided from its kind and flags alone.
#pragma once

#include "cost/PermissionsItem.h"
#include "support/stringx.h"

// Registry items with any bit of LOCKPERM_COMPONENT_32BIT belong to the other
// registry view, which only the 64-bit helper process reaches.
bool AppliesThroughHelper(const PermissionsItem& item);

// A file or folder item whose name is not a full path: a drive letter, a colon
// and a backslash, or a UNC name (two backslashes). The system would resolve it
// against the install action's current folder, normally the system folder.
bool HasRelativeFileName(const PermissionsItem& item);

// Files and folders of 64-bit components, and anything under the system
// directory, must reach the native file system rather than the WOW64 view.
// An empty system directory matches every name.
bool AppliesWithoutRedirection(const PermissionsItem& item, const _stringx<>& systemDirectory);
