// Creating the proxy of a new 64-bit helper process, for the permissions manager.
#pragma once

#include <windows.h>

#include "support/stringx.h"

class CQXSecureObject;
struct IQXBEWUtils;

// Creates a proxy, starts the helper at helperPath and binds to it; on success
// *helper holds the one reference the caller releases. Failures are logged
// through logger and returned (an empty path gives 0x80070002).
HRESULT CreateBitUtilsHelper(CQXSecureObject& logger, const _stringx<>& helperPath, IQXBEWUtils** helper);
