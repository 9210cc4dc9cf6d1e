#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ScratchFolder.h"
#include "kernel_stubs.h"
#include "support/files.h"
#include "support/temp_files.h"

namespace {

using qxtest::ScratchFolder;

const std::wstring kGuidFolder = L"\\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\}\\\\";

// The folder the helper is written into is checked where it is made (tests/helper);
// this is the one for a user without administrator rights.
TEST(TempFiles, UniqueNamesOfFilesAreLeftUnmadeOfFoldersMade)
{
    ScratchFolder scratch;
    // Windows pads the number to four hex digits, Wine does not.
    const struct {
        bool file;
        const wchar_t* extension;
        std::wstring base, pattern;
    } cases[] = {{true, L"log", scratch.path + L"for files", L"for files\\\\_qx[0-9A-Fa-f]{1,4}\\.log"},
                 {false, L"", scratch.path + L"new\\deeper", L"new\\\\deeper\\\\" + kGuidFolder}};
    for (const auto& c : cases) {
        const std::wstring made = qx::unique_temp_name(c.file, c.extension, c.base.c_str(), false).str();
        EXPECT_TRUE(scratch.Holds(made, c.pattern)) << made;
        EXPECT_EQ(!c.file, std::filesystem::exists(made)) << made;
        EXPECT_TRUE(std::filesystem::is_directory(c.base)) << c.base;
    }
}

std::vector<std::wstring> g_created; // every folder creation asked of the system
DWORD g_creationError = 0;           // what each fails with; 0: it succeeds

BOOL WINAPI RecordCreation(LPCWSTR path, LPSECURITY_ATTRIBUTES)
{
    g_created.emplace_back(path);
    ::SetLastError(g_creationError);
    return g_creationError == 0;
}

// Paths are joined and split by the cost tests; making a tree is checked here.
TEST(Paths, CreateDirectoryTreeCreatesEachLevelBelowTheDriveOrShare)
{
    const struct {
        const wchar_t* path;
        DWORD error;
        bool made;
        std::vector<std::wstring> created;
    } cases[] = {{L"C:\\a\\b", 0, true, {L"C:\\a\\", L"C:\\a\\b\\"}},
                 {L"C:\\a\\b\\", ERROR_ALREADY_EXISTS, true, {L"C:\\a\\", L"C:\\a\\b\\"}},
                 {L"C:\\x\\y\\z", ERROR_ACCESS_DENIED, false, {L"C:\\x\\"}},
                 {L"\\\\server\\share\\x\\y", 0, true, {L"\\\\server\\share\\x\\", L"\\\\server\\share\\x\\y\\"}},
                 {L"\\\\server\\share\\", 0, true, {}}};
    scoped_kernel_stubs stubs{stub("CreateDirectoryW", RecordCreation)};
    for (const auto& c : cases) {
        g_created.clear();
        g_creationError = c.error;
        EXPECT_EQ(c.made, qx::create_directory_tree(c.path)) << c.path;
        EXPECT_EQ(c.created, g_created) << c.path;
    }
}

} // namespace
