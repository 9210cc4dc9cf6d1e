#include "support/files.h"

#include "support/kernel_lookup.h"

namespace qx {

namespace {

using CreateDirectoryW_t = BOOL(WINAPI*)(LPCWSTR, LPSECURITY_ATTRIBUTES);
using DeleteFileW_t = BOOL(WINAPI*)(LPCWSTR);
using RemoveDirectoryW_t = BOOL(WINAPI*)(LPCWSTR);

} // namespace

bool create_directory(const _stringx<>& path, LPSECURITY_ATTRIBUTES attributes)
{
    auto createW = kernel_function<CreateDirectoryW_t>("CreateDirectoryW");
    return createW && createW(path.c_str(), attributes) != FALSE;
}

bool delete_file(const _stringx<>& path)
{
    auto deleteW = kernel_function<DeleteFileW_t>("DeleteFileW");
    return deleteW && deleteW(path.c_str()) != FALSE;
}

bool remove_directory(const _stringx<>& path)
{
    auto removeW = kernel_function<RemoveDirectoryW_t>("RemoveDirectoryW");
    return removeW && removeW(path.c_str()) != FALSE;
}

} // namespace qx
