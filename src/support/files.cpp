#include "support/files.h"

#include "support/kernel_lookup.h"
#include "support/paths.h"
#include "support/unique_any.h"

namespace qx {

namespace {

using GetFileAttributesW_t = DWORD(WINAPI*)(LPCWSTR);
using GetFileAttributesA_t = DWORD(WINAPI*)(LPCSTR);
using FindFirstFileW_t = HANDLE(WINAPI*)(LPCWSTR, LPWIN32_FIND_DATAW);
using FindFirstFileA_t = HANDLE(WINAPI*)(LPCSTR, LPWIN32_FIND_DATAA);
using CreateDirectoryW_t = BOOL(WINAPI*)(LPCWSTR, LPSECURITY_ATTRIBUTES);
using CreateDirectoryA_t = BOOL(WINAPI*)(LPCSTR, LPSECURITY_ATTRIBUTES);
using DeleteFileW_t = BOOL(WINAPI*)(LPCWSTR);
using RemoveDirectoryW_t = BOOL(WINAPI*)(LPCWSTR);

bool is_kind(DWORD attributes, DWORD kinds) noexcept
{
    bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return folder ? (kinds & EXISTS_DIRECTORY) != 0 : (kinds & EXISTS_FILE) != 0;
}

// Searches for the path itself; false when not found or no search function exists.
bool find_attributes(const _stringx<>& path, DWORD& attributes)
{
    if (auto findW = kernel_function<FindFirstFileW_t>("FindFirstFileW")) {
        WIN32_FIND_DATAW data{};
        unique_find search(findW(path.c_str(), &data));
        attributes = data.dwFileAttributes;
        return static_cast<bool>(search);
    }
    if (auto findA = kernel_function<FindFirstFileA_t>("FindFirstFileA")) {
        _stringx<> copy(path); // narrow() needs a string of its own
        WIN32_FIND_DATAA data{};
        unique_find search(findA(copy.narrow(), &data));
        attributes = data.dwFileAttributes;
        return static_cast<bool>(search);
    }
    return false;
}

} // namespace

bool path_exists(const _stringx<>& path, DWORD kinds)
{
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    if (auto getW = kernel_function<GetFileAttributesW_t>("GetFileAttributesW")) {
        attributes = getW(path.c_str());
    } else if (auto getA = kernel_function<GetFileAttributesA_t>("GetFileAttributesA")) {
        _stringx<> copy(path); // narrow() needs a string of its own
        attributes = getA(copy.narrow());
    } else {
        return false;
    }
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        return is_kind(attributes, kinds);
    }
    // An entry in a folder we may not read can still be found by a search.
    if (::GetLastError() == ERROR_ACCESS_DENIED && find_attributes(path, attributes)) {
        return is_kind(attributes, kinds);
    }
    return false;
}

bool create_directory(const _stringx<>& path, LPSECURITY_ATTRIBUTES attributes)
{
    if (auto createW = kernel_function<CreateDirectoryW_t>("CreateDirectoryW")) {
        return createW(path.c_str(), attributes) != FALSE;
    }
    if (auto createA = kernel_function<CreateDirectoryA_t>("CreateDirectoryA")) {
        _stringx<> copy(path); // narrow() needs a string of its own
        return createA(copy.narrow(), attributes) != FALSE;
    }
    return false;
}

bool create_directory_tree(const _stringx<>& path)
{
    _stringx<> full(path);
    add_backslash(full);
    const bool network = full.length() >= 3 && full[0] == L'\\' && full[1] == L'\\';
    // Pieces that name no folder of their own: the drive, or \ \ server\ share\ of a network path.
    const std::size_t firstCreated = network ? 5 : 2;

    _stringx<> prefix;
    std::size_t start = 0;
    for (std::size_t piece = 1; start < full.length(); ++piece) {
        std::size_t end = full.find(L'\\', start) + 1; // the path ends in a backslash: always found
        _stringx<> part(full.c_str() + start, end - start);
        start = end;
        if (part.length() == 1) {
            prefix.append(part); // keeps the two leading backslashes of a network path
        } else {
            AppendPathPart(prefix, part, L'\\');
        }
        if (piece < firstCreated) {
            continue;
        }
        if (!create_directory(prefix, nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
            return false;
        }
    }
    return true;
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
