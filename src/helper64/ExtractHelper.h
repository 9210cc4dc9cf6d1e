// Writes the 64-bit helper executable out of the library's own resources, and
// removes it again.
#pragma once

#include <windows.h>

#include "support/log_sink.h"
#include "support/stringx.h"

// The full path of the helper written out of module's resources
// ("...\{GUID}\wacXXXX.tmp"), or empty after any failure, which is logged. Never
// throws. Without a folder of its own the helper is not written at all.
_stringx<> ExtractHelperExecutable(qx::log_sink& log, HMODULE module);

// Deletes the extracted file, giving a helper that is still ending time to let go
// of it, and then its folder (never the temporary folder itself); what cannot be
// deleted stays, unreported.
void RemoveHelperExecutable(const _stringx<>& path) noexcept;
