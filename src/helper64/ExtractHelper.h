// Writes the 64-bit helper executable out of the library's own resources.
#pragma once

#include "support/stringx.h"

class CQXSecureObject;

// The full path of the written helper ("...\{GUID}\wacXXXX.tmp"), or empty after any
// failure, which is logged through logger. Never throws.
_stringx<> ExtractHelperExecutable(CQXSecureObject& logger);
// The same from a given module (the library's own in production).
_stringx<> ExtractHelperExecutable(CQXSecureObject& logger, HMODULE module);
