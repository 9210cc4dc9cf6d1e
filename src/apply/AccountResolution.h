// Account names to SIDs: the well-known names, string SIDs, then a lookup by the
// local computer.
#pragma once

#include <windows.h>

#include "apply/SecurityFunctions.h"
#include "support/log_sink.h"
#include "support/stringx.h"
#include "support/unique_any.h"

// The SID of the item's account. A lookup that fails throws qx::error with its
// line and its error code (1332 when it left none).
qx::unique_local<void> ResolveItemSid(CSecurityFunctions& security, qx::log_sink& log, const _stringx<>& domain,
                                      const _stringx<>& user);
