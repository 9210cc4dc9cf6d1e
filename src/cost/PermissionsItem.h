// A lock object at install time: a permission item, parsed from the custom action
// data (at costing time it is a lock table row, msi/LockPermissionsRow.h).
#pragma once

#include <windows.h>
#include <accctrl.h>

#include "support/stringx.h"

// Item flags. The lock table supplies 0x01, 0x02 and 0x04; costing ORs in one of
// the two component settings.
enum : DWORD {
    LOCKPERM_DENY = 0x01,
    LOCKPERM_NO_PROPAGATE = 0x02,
    LOCKPERM_IGNORE_FAILURE = 0x04,
    LOCKPERM_COMPONENT_64BIT = 0x08,
    // Bits 0x02, 0x04 and 0x10 together: a registry item with any of them goes to the helper.
    LOCKPERM_COMPONENT_32BIT = 0x16,
    // The bit of the mask that only costing sets: the component lacks the 64-bit
    // attribute, so the installer wrote its keys into the 32-bit registry view.
    LOCKPERM_32BIT_VIEW = 0x10,
};

enum class LockObjectKind : DWORD {
    File = 0,
    CreateFolder = 1,
    Registry = 2,
    Service = 3,
    Unknown = 4,
};

struct PermissionsItem {
    _stringx<> m_strObjectName;
    LockObjectKind m_kind = LockObjectKind::Unknown;
    SE_OBJECT_TYPE m_objectType = SE_UNKNOWN_OBJECT_TYPE;
    _stringx<> m_strDomain;
    _stringx<> m_strUser;
    DWORD m_dwPermission = 0;
    DWORD m_dwFlags = 0;
};

// The kind named by the table word of length characters at table (no terminator
// needed), matched without regard to case over its whole length.
LockObjectKind LockObjectKindFromTable(const wchar_t* table, std::size_t length);
SE_OBJECT_TYPE ObjectTypeForKind(LockObjectKind kind);
