// The checks of QXLockCheck: what in a package's lock table, custom actions and
// sequence would make the installation fail, lock the wrong thing, or install
// otherwise than its author likely meant.
#pragma once

#include <windows.h>
#include <msi.h>

#include <string>
#include <vector>

namespace qxcheck {

enum class Severity {
    Error,   // the installation fails, or locks the wrong object
    Warning, // it installs, but not as the author likely meant
};

// What each finding is about; printed as QXC and three digits.
enum class Check : unsigned {
    LockTableColumns = 1,
    UnknownTable = 2,
    MissingObject = 3,
    FolderWithoutCreateFolder = 4,
    MissingComponent = 5,
    RegistryRoot = 6,
    Separator = 7,
    EmptyUser = 8,
    UnknownFlags = 9,
    ActionMissing = 10,
    ActionType = 11,
    ActionSequence = 12,
    LibraryBinary = 13,
    Condition = 14,
    Impersonation = 101,
    ErrorMessage = 102,
    RegistryWithoutHelper = 103,
    NoPropagateOnFile = 104,
    GenericRights = 105,
    RegistryView = 106,
    Rollback = 107,
    OtherInstallAction = 108,
};

struct Finding {
    Severity severity;
    Check check;
    // LockObject/Table/Domain/User of the row, or the table or action concerned.
    std::wstring subject;
    std::wstring message;
};

// Checks the package open in database (read-only is enough). The findings come in
// the order lock table, its rows in the view's order, actions, Error table; a
// package with neither the lock table nor an action of the library has none.
// An installer call that fails throws qx::installer_error: the package cannot be read.
std::vector<Finding> CheckPackage(MSIHANDLE database);

// "error QXC002" or "warning QXC103".
std::wstring SeverityAndCode(const Finding& finding);

} // namespace qxcheck
