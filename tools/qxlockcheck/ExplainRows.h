// What each lock row of a package comes to on this machine, found by the library's
// own costing and apply code: the one place where the checker calls it.
#pragma once

#include <windows.h>
#include <accctrl.h>

#include <string>
#include <utility>
#include <vector>

#include "apply/ApplyRules.h"
#include "cost/PermissionsItem.h"

namespace qxcheck {

enum class RowFate {
    Written,               // costing writes a record for it: the fields below are filled
    ConditionFalse,        // detail: the condition
    ComponentNotInstalled, // detail: the component
    CostingStops,          // detail: the library's line; the installation fails
    NotExamined,           // after a row that stopped costing
};

struct ExplainedRow {
    std::wstring subject; // LockObject/Table/Domain/User as the table holds them
    RowFate fate = RowFate::NotExamined;
    std::wstring detail;

    // The record as the install action reads it, and where it takes it.
    PermissionsItem item;
    bool throughHelper = false;
    ObjectView view = ObjectView::Own;
    // The entry the library makes of it.
    ACCESS_MODE mode = NOT_USED_ACCESS;
    DWORD inheritance = 0;
    std::wstring sid;     // empty when the account is not found here
    std::wstring account; // the SID's account here, or the row's account as costing formatted it
    DWORD accountError = ERROR_SUCCESS;

    // Asked for with current: the object's list now, as SDDL, or why there is none;
    // for an entry the library merges itself, the list after the merge.
    bool readCurrent = false;
    DWORD readError = ERROR_SUCCESS;
    DWORD mergeError = ERROR_SUCCESS;
    std::wstring now, after;
};

using PropertySetting = std::pair<std::wstring, std::wstring>;

// Opens the package as the installer would for a full installation on this
// machine (no user interface, every feature local, then the properties as given),
// costs it and explains its lock rows in table order; with current, also reads
// each object's list and merges the entry into it, writing nothing. A package that
// cannot be opened or costed throws qx::error.
std::vector<ExplainedRow> ExplainRows(const std::wstring& package, const std::vector<PropertySetting>& properties,
                                      bool current);

} // namespace qxcheck
