// Turning lock table rows into object names (file paths, folder paths, registry
// keys, service names) and those into the custom action data text.
#pragma once

#include <windows.h>
#include <winnetwk.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "cost/PermissionsItem.h"
#include "msi/InstallerSession.h"
#include "msi/LockPermissionsRow.h"
#include "support/stringx.h"

// Registry root words as the named-security functions expect them.
extern const _stringx<> g_strRootMachine;
extern const _stringx<> g_strRootUsers;

// Takes each record as it is written, as the item the install action will read
// from it; what it does needs no further installer query.
using ItemWritten = std::function<void(const PermissionsItem& item)>;

// Why a row that costing examined gives no record.
enum class RowSkip {
    ConditionFalse,        // its condition is false
    ComponentNotInstalled, // its object's component is not being installed
};
// Takes each row that gives no record, with the reason and, for a component that is
// not being installed, that component (empty otherwise).
using RowSkipped = std::function<void(const LockPermissionsRow& row, RowSkip reason, const _stringx<>& component)>;

// Resolves the rows whose condition holds in order, ORs each row's component flags
// into it, and appends one record per row whose component is being installed to
// customActionData (handing it to written, if given; the others to skipped, if
// given). The first row that fails throws qx::error with its line and status (259:
// no such object, 87: unknown table word or registry root, 1603: a condition the
// installer cannot evaluate), and no further row is examined.
void BuildFinalPermissionsItems(const InstallerSession& session, std::vector<LockPermissionsRow>& rows,
                                _stringx<>& customActionData, const ItemWritten& written = nullptr,
                                const RowSkipped& skipped = nullptr);

// The system calls behind UniversalPaths; tests substitute them, since no drive
// can be made to look remote in every test environment.
struct UniversalNameCalls {
    decltype(&::GetDriveTypeW) getDriveType = &::GetDriveTypeW;
    decltype(&::WNetGetUniversalNameW) getUniversalName = &::WNetGetUniversalNameW;
};

// Replaces paths on mapped network drives by their universal names
// (\\server\share\...), asking each drive's type once.
class UniversalPaths {
public:
    explicit UniversalPaths(const UniversalNameCalls& calls = UniversalNameCalls()) : m_calls(calls) { }
    void Convert(_stringx<>& path);

private:
    UniversalNameCalls m_calls;
    std::map<std::wstring, UINT> m_driveTypes; // by root, "C:"
};
