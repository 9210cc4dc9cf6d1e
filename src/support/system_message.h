// The system's message text for an error code.
#pragma once

#include <windows.h>

#include "support/stringx.h"

namespace qx {

// FormatMessage from the system table in the default language; empty when the
// system has no text for the code.
_stringx<> system_message(DWORD code);

} // namespace qx
