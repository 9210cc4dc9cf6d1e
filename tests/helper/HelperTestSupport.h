// What the helper tests share: the helper's path and files.
#pragma once

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace helper_test {

namespace fs = std::filesystem;

// QXBEW.exe is built beside the test program.
inline std::wstring HelperPath()
{
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    return (fs::path(path).parent_path() / L"QXBEW.exe").wstring();
}

// A program that starts like the helper and never registers (tests/helper/idle).
inline std::wstring IdleProgramPath()
{
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    return (fs::path(path).parent_path() / L"qx_idle.exe").wstring();
}

// With a trailing backslash, as the library's own names have it.
inline std::wstring TempFolder()
{
    wchar_t path[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, path);
    return path;
}

inline std::set<std::wstring> FolderEntries(const std::wstring& folder)
{
    std::set<std::wstring> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().filename().wstring());
    }
    return names;
}

inline std::vector<char> ReadFileBytes(const std::wstring& path)
{
    std::ifstream file(fs::path(path), std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// True when the folder is gone.
inline bool RemoveFolder(const std::wstring& folder)
{
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    return !fs::exists(folder, ignored);
}

} // namespace helper_test
