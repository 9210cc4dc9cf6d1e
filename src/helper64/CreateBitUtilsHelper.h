// Creating the proxy of a new 64-bit helper process.
#pragma once

#include <windows.h>

#include "helper64/QXBEWUtils.h"
#include "support/log_sink.h"
#include "support/stringx.h"

// Creates a proxy, starts the helper at helperPath and binds to it; on success
// *helper holds the one reference the caller releases. Failures are logged and
// returned (an empty path gives 0x80070002).
HRESULT CreateBitUtilsHelper(qx::log_sink& log, const _stringx<>& helperPath, IQXBEWUtils** helper);
