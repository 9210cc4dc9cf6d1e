// Writing the helper out of a module's resources. The test program carries the real
// QXBEW.exe as QXCUSTOM/QXBEWEXE, as the 32-bit library does.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>
#include <thread>

#include "HelperTestSupport.h"
#include "RecordingLog.h"
#include "kernel_stubs.h"
#include "support/unique_any.h"
#include "helper64/ExtractHelper.h"

using namespace helper_test;

namespace {

TEST(HelperExtraction, WritesANewGuidFolderWithOneTempFile)
{
    const std::wregex folderForm(L"\\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\}");
    // Windows writes the unique number in four hexadecimal digits, Wine without leading zeros.
    const std::wregex fileForm(L"wac[0-9A-Fa-f]{1,4}\\.tmp");
    // Without the resource the folder and the name reserved for the file stay behind:
    // the manager removes only what a successful extraction produced.
    for (bool extracted : {true, false}) {
        SCOPED_TRACE(extracted ? "with the resource" : "without it");
        const HMODULE module = ::GetModuleHandleW(extracted ? nullptr : L"kernel32.dll");
        const std::set<std::wstring> before = FolderEntries(TempFolder());
        qxtest::RecordingLog logger;
        const std::wstring path = ExtractHelperExecutable(logger, module).str();
        std::set<std::wstring> added;
        for (const std::wstring& name : FolderEntries(TempFolder())) {
            if (!before.count(name)) {
                added.insert(name);
            }
        }
        ASSERT_EQ(1u, added.size());
        EXPECT_TRUE(std::regex_match(*added.begin(), folderForm)) << testing::PrintToString(*added.begin());
        const std::wstring folder = TempFolder() + *added.begin() + L"\\";
        const std::set<std::wstring> files = FolderEntries(folder);
        ASSERT_EQ(1u, files.size());
        EXPECT_TRUE(std::regex_match(*files.begin(), fileForm)) << testing::PrintToString(*files.begin());
        const std::wstring file = folder + *files.begin();
        EXPECT_EQ(extracted ? file : L"", path);
        EXPECT_EQ(extracted ? ReadFileBytes(HelperPath()) : std::vector<char>(), ReadFileBytes(file));
        EXPECT_EQ(std::vector<std::wstring>{extracted ? L"Extracted QXBEW.exe to '" + file + L"'"
                                                      : L"Error extracting QXBEW.exe from QXLockPermissions.dll"},
                  logger.lines);
        EXPECT_TRUE(RemoveFolder(folder));
    }
}

DWORD WINAPI DeniedCreateDirectory(LPCWSTR, LPSECURITY_ATTRIBUTES)
{
    ::SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

// Without a folder of its own the helper is not written at all: directly in the
// temporary folder anyone could plant a DLL beside a program started as LocalSystem.
TEST(HelperExtraction, WithoutItsOwnFolderNothingIsWritten)
{
    const std::set<std::wstring> before = FolderEntries(TempFolder());
    qxtest::RecordingLog logger;
    std::wstring path;
    {
        scoped_kernel_stubs denied{stub("CreateDirectoryW", DeniedCreateDirectory)};
        path = ExtractHelperExecutable(logger, ::GetModuleHandleW(nullptr)).str();
    }
    EXPECT_EQ(L"", path);
    EXPECT_EQ(std::vector<std::wstring>{L"Failed to create a secure folder for QXBEW.exe, error 0x00000005"},
              logger.lines);
    EXPECT_EQ(before, FolderEntries(TempFolder())) << "something was written into the temporary folder";
}

// The helper may hold its image open for a moment after it ends: the file is tried
// again until it goes, and its folder with it, but never the temporary folder.
TEST(HelperExtraction, RemovalRetriesAndNeverTakesTheTemporaryFolder)
{
    const std::wstring scratch = TempFolder() + L"qxtemp" + std::to_wstring(::GetCurrentProcessId()) + L"\\";
    for (bool temporary : {false, true}) {
        SCOPED_TRACE(temporary ? "in the temporary folder itself" : "in a folder of its own");
        ASSERT_TRUE(RemoveFolder(scratch));
        ASSERT_TRUE(fs::create_directories(scratch + L"own"));
        wchar_t saved[MAX_PATH] = {};
        ::GetEnvironmentVariableW(L"TMP", saved, MAX_PATH);
        ASSERT_TRUE(::SetEnvironmentVariableW(L"TMP", scratch.c_str()));
        const std::wstring file = scratch + (temporary ? L"wac1.tmp" : L"own\\wac1.tmp");
        // Held without delete sharing for the first attempt and a bit of the next wait.
        HANDLE held = ::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, held);
        std::thread releaser([held] {
            ::Sleep(700);
            ::CloseHandle(held);
        });
        RemoveHelperExecutable(file.c_str());
        releaser.join();
        ::SetEnvironmentVariableW(L"TMP", saved[0] ? saved : nullptr);
        EXPECT_FALSE(fs::exists(file));
        EXPECT_EQ(temporary, fs::exists(fs::path(file).parent_path())) << "the folder";
        EXPECT_TRUE(RemoveFolder(scratch));
    }
}

} // namespace
