// Account names to SIDs: the well-known names, string SIDs, then a lookup by the
// local computer.
#pragma once

#include <windows.h>

#include "apply/SecurityFunctions.h"
#include "support/log_sink.h"
#include "support/stringx.h"

// The SID of the item's account, released by the receiver with LocalFree: 0, or
// the lookup's error code (1332 when it left none).
DWORD ResolveItemSid(CSecurityFunctions& security, qx::log_sink& log, const _stringx<>& domain, const _stringx<>& user,
                     PSID* sid);
