// Applies the items of the install action object by object and lets the user
// decide about each failure: Abort, Retry or Ignore.
#pragma once

#include <windows.h>
#include <msi.h>

#include <functional>
#include <vector>

#include "apply/AccessEntries.h"
#include "cost/PermissionsItem.h"
#include "support/log_sink.h"
#include "support/stringx.h"

// The message that puts a failed item to the user; the package's Error table words it.
constexpr UINT kApplyErrorMessage = 27555;

// The two steps of the route, in this process or elsewhere; a failure throws
// qx::error with its line (if any) and code.
struct ApplySteps {
    // A row's own step before its object is touched: its account.
    std::function<void(PreparedRow&)> prepareRow;
    // One object's prepared rows in one read and one write.
    std::function<void(const std::vector<PreparedRow>&)> applyObject;
};

// True when every item was applied or let go; false when the user (or no one)
// chose to stop. The items are applied object by object (same name, type and
// view), in the order each object first appears; a row that goes through the
// helper is an object of its own, as the helper takes one row a call. A row's
// failure is put to the user for that row, and an ignored row is left out of its
// object's write; a failed read or write is put once for the object, and Retry
// tries the object's rows again. Files and folders of 64-bit components, and
// those under the system directory, are applied with file-system redirection
// switched off.
bool ApplyPermissionsItems(MSIHANDLE hInstall, qx::log_sink& log, const std::vector<PermissionsItem>& items,
                           const _stringx<>& systemDirectory, const ApplySteps& steps);
