#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include <regex>
#include <set>
#include <string>
#include <vector>

#include "kernel_stubs.h"
#include "scratch_folder.h"
#include "support/temp_files.h"

namespace {

// Windows pads the temporary-name number to four hex digits; Wine prints it without
// padding, so a small number gives a shorter name.
const std::wstring kTempNumber = L"[0-9A-Fa-f]{1,4}";
const std::wstring kGuid = L"[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}";
const std::wstring kFullFolder = L"\\{" + kGuid + L"\\}\\\\";
const std::wstring kShortFolder = L"\\{[0-9A-F]{8}\\}\\\\";

std::wstring text_of(const _stringx<>& s)
{
    return std::wstring(s.c_str(), s.length());
}

// Whether path is base followed by a name that matches pattern.
bool is_under(const std::wstring& path, const std::wstring& base, const std::wstring& pattern)
{
    return path.compare(0, base.size(), base) == 0 && std::regex_match(path.substr(base.size()), std::wregex(pattern));
}

std::wstring temp_path()
{
    wchar_t temp[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH, temp);
    return temp;
}

// One entry of an access list: type, flags, mask and trustee.
std::wstring describe(const ACCESS_ALLOWED_ACE* ace)
{
    LPWSTR sid = nullptr;
    ::ConvertSidToStringSidW(const_cast<DWORD*>(&ace->SidStart), &sid);
    std::wstring text = std::to_wstring(ace->Header.AceType) + L"/" + std::to_wstring(ace->Header.AceFlags) + L"/" +
                        std::to_wstring(ace->Mask) + L"/" + (sid ? sid : L"?");
    ::LocalFree(sid);
    return text;
}

// What the library handed to the system when it created a folder.
struct creation_log {
    int calls = 0;
    bool inheritable = true;
    std::vector<std::wstring> aces;
};
creation_log g_creation;

BOOL WINAPI InspectAndCreate(LPCWSTR path, LPSECURITY_ATTRIBUTES attributes)
{
    ++g_creation.calls;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    if (attributes && ::GetSecurityDescriptorDacl(attributes->lpSecurityDescriptor, &present, &dacl, &defaulted) &&
        dacl) {
        g_creation.inheritable = attributes->bInheritHandle != FALSE;
        for (DWORD i = 0; i < dacl->AceCount; ++i) {
            void* ace = nullptr;
            ::GetAce(dacl, i, &ace);
            g_creation.aces.push_back(describe(static_cast<ACCESS_ALLOWED_ACE*>(ace)));
        }
    }
    return ::CreateDirectoryW(path, attributes);
}

BOOL WINAPI AlreadyThere(LPCWSTR, LPSECURITY_ATTRIBUTES)
{
    ++g_creation.calls;
    ::SetLastError(ERROR_ALREADY_EXISTS);
    return FALSE;
}

} // namespace

TEST(NewGuidString, UpperCaseGroupsWithoutBraces)
{
    std::set<std::wstring> seen;
    for (int i = 0; i < 8; ++i) {
        std::wstring guid = text_of(qx::new_guid_string());
        EXPECT_TRUE(std::regex_match(guid, std::wregex(kGuid))) << guid;
        seen.insert(guid);
    }
    EXPECT_EQ(seen.size(), 8u);
}

TEST(SecureTempFolder, NamedByAGuidUnderTheBase)
{
    scratch_folder scratch;
    for (bool shortName : {true, false}) {
        std::wstring made = text_of(qx::create_secure_temp_folder(scratch.path().c_str(), shortName));
        EXPECT_TRUE(is_under(made, scratch.path(), shortName ? kShortFolder : kFullFolder)) << made;
        EXPECT_TRUE(is_folder(made)) << made;
    }
    std::wstring made = text_of(qx::create_secure_temp_folder(_stringx<>(), false));
    remove_on_exit cleanup(made);
    EXPECT_TRUE(is_under(made, temp_path(), kFullFolder)) << made;
    EXPECT_TRUE(is_folder(made));
}

TEST(SecureTempFolder, CreatedWithTheTwoEntryAccessList)
{
    // Checked where the library hands it to the system: Wine keeps file security in
    // Unix mode bits, and GetNamedSecurityInfoW reads back full control for SYSTEM and
    // the owner instead of the list the folder was created with.
    scratch_folder scratch;
    g_creation = creation_log();
    scoped_kernel_stubs stubs{stub("CreateDirectoryW", InspectAndCreate)};
    EXPECT_FALSE(qx::create_secure_temp_folder(scratch.path().c_str(), true).empty());
    EXPECT_EQ(g_creation.calls, 1);
    EXPECT_FALSE(g_creation.inheritable);
    const std::wstring inherit = std::to_wstring(OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
    EXPECT_EQ(g_creation.aces, (std::vector<std::wstring>{
                                   L"0/" + inherit + L"/" + std::to_wstring(0x001200A9) + L"/S-1-5-32-545",
                                   L"0/" + inherit + L"/" + std::to_wstring(0x001F01FF) + L"/S-1-5-32-544",
                               }));
}

TEST(SecureTempFolder, ExistingFolderGivesEmptyWithoutRetry)
{
    g_creation = creation_log();
    scoped_kernel_stubs stubs{stub("CreateDirectoryW", AlreadyThere)};
    EXPECT_TRUE(qx::create_secure_temp_folder(L"C:\\base\\", true).empty());
    EXPECT_EQ(g_creation.calls, 1);
}

TEST(UniqueTempName, FileVariantLeavesOnlyAName)
{
    scratch_folder scratch;
    for (const wchar_t* extension : {L"", L"log"}) {
        std::wstring name = text_of(qx::unique_temp_name(true, extension, scratch.path().c_str(), false));
        std::wstring pattern = L"_qx" + kTempNumber + (*extension ? L"\\.log" : L"");
        EXPECT_TRUE(is_under(name, scratch.path(), pattern)) << name;
        EXPECT_TRUE(scratch.empty()) << "a file was left behind";
    }
}

TEST(UniqueTempName, FolderVariantCreatesTheFolder)
{
    scratch_folder scratch;
    const struct {
        bool shortName;
        const wchar_t* extension;
        std::wstring pattern;
    } cases[] = {
        {false, L"", kFullFolder},
        {true, L"", kShortFolder},
        {true, L"dat", L"\\{[0-9A-F]{8}\\}\\.dat\\\\"},
    };
    for (const auto& c : cases) {
        std::wstring made = text_of(qx::unique_temp_name(false, c.extension, scratch.path().c_str(), c.shortName));
        EXPECT_TRUE(is_under(made, scratch.path(), c.pattern)) << made;
        EXPECT_TRUE(is_folder(made)) << made;
    }
}

TEST(UniqueTempName, MissingBaseFolderIsCreated)
{
    scratch_folder scratch;
    const std::wstring base = scratch / L"new\\deeper";
    std::wstring made = text_of(qx::unique_temp_name(false, L"", base.c_str(), true));
    EXPECT_TRUE(is_under(made, base + L"\\", kShortFolder)) << made;
    EXPECT_TRUE(is_folder(made));

    const std::wstring fileBase = scratch / L"for files";
    std::wstring name = text_of(qx::unique_temp_name(true, L"", fileBase.c_str(), false));
    EXPECT_TRUE(is_under(name, fileBase + L"\\", L"_qx" + kTempNumber)) << name;
    EXPECT_TRUE(is_folder(fileBase));
}

TEST(UniqueTempName, HelperFolderFormUnderTheTemporaryFolder)
{
    std::wstring made = text_of(qx::unique_temp_name(false, L"", L"", false));
    remove_on_exit cleanup(made);
    EXPECT_TRUE(is_under(made, temp_path(), kFullFolder)) << made;
    EXPECT_TRUE(is_folder(made));
}
