#include "entry/module.h"

namespace qx {

HMODULE g_hModule = nullptr;

} // namespace qx
