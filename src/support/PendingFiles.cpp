// Placeholder until the files module lands; removed with it.
#include "support/files.h"

namespace qx {

bool delete_file(const _stringx<>& path) { return ::DeleteFileW(path) != FALSE; }
bool remove_directory(const _stringx<>& path) { return ::RemoveDirectoryW(path) != FALSE; }

} // namespace qx
