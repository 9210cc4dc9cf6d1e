// A folder of its own under the temporary folder for one test, removed with all
// its contents at the end of the test.
#pragma once

#include <windows.h>

#include <string>
#include <utility>

class scratch_folder {
public:
    scratch_folder();
    scratch_folder(const scratch_folder&) = delete;
    scratch_folder& operator=(const scratch_folder&) = delete;
    ~scratch_folder();

    // The folder's path, ending in a backslash.
    const std::wstring& path() const noexcept { return m_path; }
    std::wstring operator/(const std::wstring& name) const { return m_path + name; }
    bool empty() const;

private:
    std::wstring m_path;
};

bool is_folder(const std::wstring& path);
bool is_file(const std::wstring& path);
void write_file(const std::wstring& path);

// Removes a folder (and what is in it) that a test made outside its scratch folder.
class remove_on_exit {
public:
    explicit remove_on_exit(std::wstring folder) : m_folder(std::move(folder)) {}
    remove_on_exit(const remove_on_exit&) = delete;
    remove_on_exit& operator=(const remove_on_exit&) = delete;
    ~remove_on_exit();

private:
    std::wstring m_folder;
};
