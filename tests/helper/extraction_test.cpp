// Writing the helper out of a module's resources. The test program carries the real
// QXBEW.exe as QXCUSTOM/QXBEWEXE, as the 32-bit library does.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>

#include "HelperTestSupport.h"
#include "helper64/BitUtilsHelper.h"
#include "helper64/ExtractHelper.h"
#include "helper64/ResourceTemplate.h"

using namespace helper_test;

namespace {

const std::wregex kFolderName(L"\\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\}");
// Windows writes the unique number in four hexadecimal digits, Wine without leading zeros.
const std::wregex kFileName(L"wac[0-9A-Fa-f]{1,4}\\.tmp");

// The one entry of the temporary folder that was not there before.
std::wstring NewTempEntry(const std::set<std::wstring>& before)
{
    std::wstring added;
    for (const std::wstring& name : FolderEntries(TempFolder())) {
        if (!before.count(name)) {
            EXPECT_TRUE(added.empty()) << "more than one new entry in the temporary folder";
            added = name;
        }
    }
    return added;
}

using HelperExtraction = HelperProcessTest;

TEST_F(HelperExtraction, WritesTheHelperIntoANewGuidFolderAndItRunsFromThere)
{
    std::set<std::wstring> before = FolderEntries(TempFolder());
    RecordingLogger logger;
    std::wstring path = ExtractHelperExecutable(logger, ::GetModuleHandleW(nullptr)).str();
    ASSERT_FALSE(path.empty());
    ASSERT_EQ(1u, logger.lines.size());
    EXPECT_EQ(L"Extracted QXBEW.exe to '" + path + L"'", logger.lines[0]);

    std::wstring folderName = NewTempEntry(before);
    EXPECT_TRUE(std::regex_match(folderName, kFolderName)) << "folder " << testing::PrintToString(folderName);
    std::wstring folder = TempFolder() + folderName + L"\\";
    ASSERT_EQ(folder, path.substr(0, folder.size()));
    std::wstring fileName = path.substr(folder.size());
    EXPECT_TRUE(std::regex_match(fileName, kFileName)) << "file " << testing::PrintToString(fileName);
    EXPECT_EQ(ReadFileBytes(HelperPath()), ReadFileBytes(path));

    // The helper runs from its ".tmp" name as well.
    CBitUtilsHelper* proxy = nullptr;
    ASSERT_EQ(S_OK, CBitUtilsHelper::CreateInstance(&proxy));
    proxy->AddRef();
    EXPECT_EQ(S_OK, proxy->Initialize(path.c_str()));
    EXPECT_EQ(1u, ProcessesNamed(fileName).size());
    EXPECT_EQ(E_NOTIMPL, proxy->Method3());
    proxy->Release();
    EXPECT_TRUE(WaitUntilNoProcess(fileName, 10000));
    EXPECT_TRUE(RemoveFolder(folder));
}

TEST_F(HelperExtraction, ModuleWithoutTheResourceLeavesAnEmptyTempFile)
{
    std::set<std::wstring> before = FolderEntries(TempFolder());
    RecordingLogger logger;
    EXPECT_TRUE(ExtractHelperExecutable(logger, ::GetModuleHandleW(L"kernel32.dll")).empty());
    EXPECT_EQ(std::vector<std::wstring>{L"Error extracting QXBEW.exe from QXLockPermissions.dll"}, logger.lines);

    // The folder and the name reserved for the file stay behind; the manager removes
    // only what a successful extraction produced.
    std::wstring folderName = NewTempEntry(before);
    ASSERT_TRUE(std::regex_match(folderName, kFolderName)) << "folder " << testing::PrintToString(folderName);
    std::wstring folder = TempFolder() + folderName + L"\\";
    std::set<std::wstring> files = FolderEntries(folder);
    ASSERT_EQ(1u, files.size());
    EXPECT_TRUE(std::regex_match(*files.begin(), kFileName));
    std::vector<char> content = ReadFileBytes(folder + *files.begin());
    EXPECT_TRUE(content.empty());
    EXPECT_TRUE(RemoveFolder(folder));
}

TEST_F(HelperExtraction, ExtractToFileReplacesAnExistingFileOrPicksATempName)
{
    const std::vector<char> expected = ReadFileBytes(HelperPath());
    ASSERT_FALSE(expected.empty());
    CResourceTemplate resource(L"QXBEWEXE", L"QXCUSTOM", ::GetModuleHandleW(nullptr));

    // An existing, longer file is truncated to the resource.
    std::wstring folder = TempFolder() + L"qxtest" + NewGuidText() + L"\\";
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    std::wstring target = folder + L"existing.bin";
    {
        std::vector<char> junk(expected.size() + 4096, 'x');
        HANDLE file = ::CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        DWORD written = 0;
        ::WriteFile(file, junk.data(), static_cast<DWORD>(junk.size()), &written, nullptr);
        ::CloseHandle(file);
    }
    _stringx<> path(target.c_str());
    EXPECT_TRUE(resource.ExtractToFile(path));
    EXPECT_EQ(target, path.str());
    EXPECT_EQ(expected, ReadFileBytes(target));
    EXPECT_TRUE(RemoveFolder(folder));

    // An empty path gets a "wac" name directly in the temporary folder.
    _stringx<> chosen;
    ASSERT_TRUE(resource.ExtractToFile(chosen));
    std::wstring chosenPath = chosen.str();
    ASSERT_EQ(TempFolder(), chosenPath.substr(0, TempFolder().size()));
    EXPECT_TRUE(std::regex_match(chosenPath.substr(TempFolder().size()), kFileName));
    EXPECT_EQ(expected, ReadFileBytes(chosenPath));
    EXPECT_TRUE(::DeleteFileW(chosenPath.c_str()));

    // A resource the module does not have fails before any file is made.
    CResourceTemplate missing(L"NOSUCH", L"QXCUSTOM", ::GetModuleHandleW(nullptr));
    std::set<std::wstring> before = FolderEntries(TempFolder());
    _stringx<> none;
    EXPECT_FALSE(missing.ExtractToFile(none));
    EXPECT_TRUE(none.empty());
    EXPECT_EQ(before, FolderEntries(TempFolder()));
}

} // namespace
