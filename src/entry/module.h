#pragma once

#include <windows.h>

namespace qx {

// The library's own module, recorded at load: the helper extraction finds its
// resource there. Null in a program that links the library statically.
extern HMODULE g_hModule;

} // namespace qx
