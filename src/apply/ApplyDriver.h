// Applies the items of the install action in order and lets the user decide
// about each failure: Abort, Retry or Ignore.
#pragma once

#include <windows.h>
#include <msi.h>

#include <functional>
#include <vector>

#include "cost/PermissionsItem.h"
#include "support/log_sink.h"
#include "support/stringx.h"

// The message that puts a failed item to the user; the package's Error table words it.
constexpr UINT kApplyErrorMessage = 27555;

// One item applied, in this process or elsewhere; a failure throws qx::error with
// its line (if any) and code.
using ApplyOneItem = std::function<void(const PermissionsItem&)>;

// True when every item was applied or let go; false when the user (or no one)
// chose to stop. Files and folders of 64-bit components, and those under the
// system directory, are applied with file-system redirection switched off.
bool ApplyPermissionsItems(MSIHANDLE hInstall, qx::log_sink& log, const std::vector<PermissionsItem>& items,
                           const _stringx<>& systemDirectory, const ApplyOneItem& applyItem);
