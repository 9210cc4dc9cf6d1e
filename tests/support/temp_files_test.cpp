#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "kernel_stubs.h"
#include "support/temp_files.h"

namespace {

// Windows pads the temporary-name number to four hex digits; Wine prints it without
// padding, so a small number gives a shorter name.
const std::wstring kTempNumber = L"[0-9A-Fa-f]{1,4}";
const std::wstring kFullFolder = L"\\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\}\\\\";
const std::wstring kShortFolder = L"\\{[0-9A-F]{8}\\}\\\\";

std::wstring temp_path()
{
    wchar_t temp[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH, temp);
    return temp;
}

// Whether path is base followed by a name that matches pattern.
bool is_under(const std::wstring& path, const std::wstring& base, const std::wstring& pattern)
{
    return path.compare(0, base.size(), base) == 0 && std::regex_match(path.substr(base.size()), std::wregex(pattern));
}

// A folder of the test's own under the temporary folder, removed at its end.
struct scratch_folder {
    std::wstring path = temp_path() + L"qxtest-" + std::to_wstring(::GetCurrentProcessId()) + L"\\";
    scratch_folder() { ::CreateDirectoryW(path.c_str(), nullptr); }
    ~scratch_folder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

// The entries of the DACL the library handed to the system with the folder: type/flags/mask/trustee.
std::vector<std::wstring> g_aces;
bool g_inheritable = true;
bool g_protected = false;

BOOL WINAPI InspectAndCreate(LPCWSTR path, LPSECURITY_ATTRIBUTES attributes)
{
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    ::GetSecurityDescriptorDacl(attributes->lpSecurityDescriptor, &present, &dacl, &defaulted);
    g_inheritable = attributes->bInheritHandle != FALSE;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ::GetSecurityDescriptorControl(attributes->lpSecurityDescriptor, &control, &revision);
    g_protected = (control & SE_DACL_PROTECTED) != 0;
    for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        ::GetAce(dacl, i, reinterpret_cast<void**>(&ace));
        LPWSTR sid = nullptr;
        ::ConvertSidToStringSidW(&ace->SidStart, &sid);
        g_aces.push_back(std::to_wstring(ace->Header.AceType) + L"/" + std::to_wstring(ace->Header.AceFlags) + L"/" +
                         std::to_wstring(ace->Mask) + L"/" + sid);
        ::LocalFree(sid);
    }
    return ::CreateDirectoryW(path, attributes);
}

} // namespace

// A LocalSystem process is started from the folder: nothing the parent lets
// everyone do may reach it, so the list is protected and holds its three entries only.
TEST(SecureTempFolder, NamedByAGuidAndCreatedWithItsOwnProtectedAccessList)
{
    // Checked where the library hands it to the system: Wine keeps file security in
    // Unix mode bits, and reads back full control for SYSTEM and the owner instead.
    scratch_folder scratch;
    scoped_kernel_stubs stubs{stub("CreateDirectoryW", InspectAndCreate)};
    const std::wstring inherit = L"0/" + std::to_wstring(OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE) + L"/";
    for (bool shortName : {true, false}) {
        g_aces.clear();
        g_inheritable = true;
        g_protected = false;
        std::wstring made = qx::create_secure_temp_folder(scratch.path.c_str(), shortName).str();
        EXPECT_TRUE(is_under(made, scratch.path, shortName ? kShortFolder : kFullFolder)) << made;
        EXPECT_TRUE(std::filesystem::is_directory(made)) << made;
        EXPECT_FALSE(g_inheritable);
        EXPECT_TRUE(g_protected) << "the parent's inheritable entries would be merged in";
        EXPECT_EQ(g_aces, (std::vector<std::wstring>{inherit + std::to_wstring(0x001200A9) + L"/S-1-5-32-545",
                                                     inherit + std::to_wstring(0x001F01FF) + L"/S-1-5-32-544",
                                                     inherit + std::to_wstring(0x001F01FF) + L"/S-1-5-18"}));
    }
}

TEST(UniqueTempName, FileNamesAreLeftUnmadeFoldersAreMade)
{
    scratch_folder scratch;
    const struct {
        bool file;
        const wchar_t* extension;
        std::wstring base; // empty: the temporary folder
        bool shortName;
        std::wstring pattern;
    } cases[] = {
        {true, L"", scratch.path, false, L"_qx" + kTempNumber},
        {true, L"log", scratch.path + L"for files", false, L"_qx" + kTempNumber + L"\\.log"},
        {false, L"", scratch.path, false, kFullFolder},
        {false, L"dat", scratch.path + L"new\\deeper", true, L"\\{[0-9A-F]{8}\\}\\.dat\\\\"},
        {false, L"", L"", false, kFullFolder},
    };
    for (const auto& c : cases) {
        std::wstring made = qx::unique_temp_name(c.file, c.extension, c.base.c_str(), c.shortName).str();
        std::wstring base = c.base.empty() ? temp_path() : c.base;
        if (base.back() != L'\\') {
            base += L'\\';
        }
        EXPECT_TRUE(is_under(made, base, c.pattern)) << made;
        EXPECT_TRUE(std::filesystem::is_directory(base)) << base;
        if (c.file) {
            EXPECT_TRUE(std::filesystem::is_empty(base)) << "a file was left behind";
        } else {
            EXPECT_TRUE(std::filesystem::is_directory(made)) << made;
        }
        if (c.base.empty()) {
            ::RemoveDirectoryW(made.c_str());
        }
    }
}
