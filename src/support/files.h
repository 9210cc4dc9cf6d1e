// File-system operations that report failure through their result. The kernel
// functions are looked up by name at each call; a missing one makes the call fail.
#pragma once

#include <windows.h>

#include "support/stringx.h"

namespace qx {

enum : DWORD {
    EXISTS_FILE = 0x04,
    EXISTS_DIRECTORY = 0x08,
};

bool path_exists(const _stringx<>& path, DWORD kinds);
bool create_directory(const _stringx<>& path, LPSECURITY_ATTRIBUTES attributes);
bool create_directory_tree(const _stringx<>& path);
bool delete_file(const _stringx<>& path);
bool remove_directory(const _stringx<>& path);

} // namespace qx
