// Writing the helper out of a module's resources. The test program carries the real
// QXBEW.exe as QXCUSTOM/QXBEWEXE, as the 32-bit library does.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>

#include "HelperTestSupport.h"
#include "RecordingLog.h"
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

} // namespace
