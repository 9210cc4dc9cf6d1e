// Registry items whose keys live in the other registry view, applied through a
// new 64-bit helper process.
#pragma once

#include <windows.h>

#include <functional>

#include "cost/PermissionsItem.h"
#include "helper64/QXBEWUtils.h"
#include "support/log_sink.h"

// Starts a helper (createHelper), hands it the item and releases it. A failure
// throws qx::error: the helper's result code, or the HRESULT with which creating
// or calling it failed.
void ApplyItemThroughHelper(qx::log_sink& log, const std::function<HRESULT(IQXBEWUtils**)>& createHelper,
                            const PermissionsItem& item);
