// File-system operations that report failure through their result. The kernel
// functions are looked up by name at each call; a missing one makes the call fail.
#pragma once

#include <windows.h>

#include "support/stringx.h"

namespace qx {

bool create_directory(const _stringx<>& path, LPSECURITY_ATTRIBUTES attributes);
bool delete_file(const _stringx<>& path);
bool remove_directory(const _stringx<>& path);

} // namespace qx
