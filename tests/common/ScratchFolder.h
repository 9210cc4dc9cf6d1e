// A folder of the test's own under the temporary folder, new and empty, removed with
// everything in it at the end of the scope (an assertion that ends a test early too).
#pragma once

#include <windows.h>

#include <filesystem>
#include <regex>
#include <string>

namespace qxtest {

struct ScratchFolder {
    std::wstring path; // with its trailing backslash

    ScratchFolder()
    {
        wchar_t temp[MAX_PATH + 1] = {};
        ::GetTempPathW(MAX_PATH, temp);
        path = std::wstring(temp) + L"qxtest-" + std::to_wstring(::GetCurrentProcessId()) + L"\\";
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
        std::filesystem::create_directory(path, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    ~ScratchFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    // Whether name is a name in this folder that matches pattern.
    bool Holds(const std::wstring& name, const std::wstring& pattern) const
    {
        return name.compare(0, path.size(), path) == 0 &&
               std::regex_match(name.substr(path.size()), std::wregex(pattern));
    }
};

} // namespace qxtest
