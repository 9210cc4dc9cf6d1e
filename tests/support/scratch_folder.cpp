#include "scratch_folder.h"

#include <rpc.h>

#include <memory>
#include <stdexcept>

namespace {

struct find_close {
    void operator()(HANDLE search) const noexcept { ::FindClose(search); }
};

// Calls visit with the name of every entry of the folder but "." and "..".
template <class Visit>
void for_each_entry(const std::wstring& folder, Visit visit)
{
    WIN32_FIND_DATAW data{};
    HANDLE found = ::FindFirstFileW((folder + L"*").c_str(), &data);
    if (found == INVALID_HANDLE_VALUE) {
        return;
    }
    std::unique_ptr<void, find_close> search(found);
    do {
        std::wstring name = data.cFileName;
        if (name != L"." && name != L"..") {
            visit(name, (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
        }
    } while (::FindNextFileW(search.get(), &data));
}

void remove_tree(const std::wstring& folder)
{
    for_each_entry(folder, [&](const std::wstring& name, bool isFolder) {
        if (isFolder) {
            remove_tree(folder + name + L"\\");
        } else {
            ::SetFileAttributesW((folder + name).c_str(), FILE_ATTRIBUTE_NORMAL);
            ::DeleteFileW((folder + name).c_str());
        }
    });
    ::RemoveDirectoryW(folder.c_str());
}

std::wstring with_backslash(std::wstring folder)
{
    if (folder.empty() || folder.back() != L'\\') {
        folder += L'\\';
    }
    return folder;
}

} // namespace

scratch_folder::scratch_folder()
{
    wchar_t temp[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH, temp);
    UUID uuid{};
    ::UuidCreate(&uuid);
    m_path = std::wstring(temp) + L"qxtest-" + std::to_wstring(uuid.Data1) + L"-" + std::to_wstring(uuid.Data2) + L"\\";
    if (!::CreateDirectoryW(m_path.c_str(), nullptr)) {
        throw std::runtime_error("cannot create the scratch folder");
    }
}

scratch_folder::~scratch_folder()
{
    remove_tree(m_path);
}

bool scratch_folder::empty() const
{
    bool empty = true;
    for_each_entry(m_path, [&](const std::wstring&, bool) { empty = false; });
    return empty;
}

remove_on_exit::~remove_on_exit()
{
    if (!m_folder.empty()) {
        remove_tree(with_backslash(m_folder));
    }
}

bool is_folder(const std::wstring& path)
{
    DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool is_file(const std::wstring& path)
{
    DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void write_file(const std::wstring& path)
{
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE || !::CloseHandle(file)) {
        throw std::runtime_error("cannot create a test file");
    }
}
