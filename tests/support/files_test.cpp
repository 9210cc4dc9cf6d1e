#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kernel_stubs.h"
#include "scratch_folder.h"
#include "support/files.h"

namespace {

std::vector<std::wstring> g_created; // every folder creation asked of the system
DWORD g_attributesError = 0;

BOOL WINAPI RecordAndCreate(LPCWSTR path, LPSECURITY_ATTRIBUTES attributes)
{
    g_created.emplace_back(path);
    return ::CreateDirectoryW(path, attributes);
}

BOOL WINAPI RecordOnly(LPCWSTR path, LPSECURITY_ATTRIBUTES)
{
    g_created.emplace_back(path);
    return TRUE;
}

BOOL WINAPI RecordAndDeny(LPCWSTR path, LPSECURITY_ATTRIBUTES)
{
    g_created.emplace_back(path);
    ::SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

DWORD WINAPI FailingAttributes(LPCWSTR)
{
    ::SetLastError(g_attributesError);
    return INVALID_FILE_ATTRIBUTES;
}

class FilesTest : public ::testing::Test {
protected:
    void SetUp() override { g_created.clear(); }

    scratch_folder m_scratch;
};

} // namespace

TEST_F(FilesTest, PathExistsByKind)
{
    const std::wstring folder = m_scratch / L"folder";
    const std::wstring file = m_scratch / L"file.txt";
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    write_file(file);
    const DWORD both = qx::EXISTS_FILE | qx::EXISTS_DIRECTORY;
    const struct {
        std::wstring path;
        DWORD kinds;
        bool expected;
    } cases[] = {
        {folder, qx::EXISTS_FILE, false},     {folder, qx::EXISTS_DIRECTORY, true},
        {folder, both, true},                 {folder + L"\\", qx::EXISTS_DIRECTORY, true},
        {file, qx::EXISTS_FILE, true},        {file, qx::EXISTS_DIRECTORY, false},
        {file, both, true},                   {m_scratch / L"missing", both, false},
        {m_scratch / L"no\\such\\path", both, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(qx::path_exists(c.path.c_str(), c.kinds), c.expected) << c.path << L" " << c.kinds;
    }
}

TEST_F(FilesTest, PathExistsSearchesWhenAttributesAreDenied)
{
    const std::wstring file = m_scratch / L"file.txt";
    write_file(file);
    scoped_kernel_stubs stubs{stub("GetFileAttributesW", FailingAttributes)};

    g_attributesError = ERROR_ACCESS_DENIED;
    EXPECT_TRUE(qx::path_exists(file.c_str(), qx::EXISTS_FILE));
    EXPECT_FALSE(qx::path_exists(file.c_str(), qx::EXISTS_DIRECTORY));
    EXPECT_FALSE(qx::path_exists((m_scratch / L"missing").c_str(), qx::EXISTS_FILE));

    g_attributesError = ERROR_SHARING_VIOLATION; // any other error: no search
    EXPECT_FALSE(qx::path_exists(file.c_str(), qx::EXISTS_FILE));
}

TEST_F(FilesTest, NarrowFormsStandInForMissingWideForms)
{
    const std::wstring file = m_scratch / L"file.txt";
    const std::wstring folder = m_scratch / L"made by the narrow form";
    write_file(file);
    scoped_kernel_stubs stubs{missing("GetFileAttributesW"), missing("FindFirstFileW"), missing("CreateDirectoryW")};

    EXPECT_TRUE(qx::path_exists(file.c_str(), qx::EXISTS_FILE));
    EXPECT_FALSE(qx::path_exists(file.c_str(), qx::EXISTS_DIRECTORY));
    EXPECT_TRUE(qx::create_directory(folder.c_str(), nullptr));
    EXPECT_TRUE(is_folder(folder));
}

TEST_F(FilesTest, NoFormAvailableFailsWithoutTouchingTheDisk)
{
    const std::wstring file = m_scratch / L"file.txt";
    const std::wstring folder = m_scratch / L"empty";
    write_file(file);
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    scoped_kernel_stubs stubs{missing("GetFileAttributesW"), missing("GetFileAttributesA"),
                              missing("CreateDirectoryW"),   missing("CreateDirectoryA"),
                              missing("DeleteFileW"),        missing("RemoveDirectoryW")};

    EXPECT_FALSE(qx::path_exists(file.c_str(), qx::EXISTS_FILE));
    EXPECT_FALSE(qx::create_directory((m_scratch / L"new").c_str(), nullptr));
    EXPECT_FALSE(is_folder(m_scratch / L"new"));
    EXPECT_FALSE(qx::delete_file(file.c_str()));
    EXPECT_TRUE(is_file(file));
    EXPECT_FALSE(qx::remove_directory(folder.c_str()));
    EXPECT_TRUE(is_folder(folder));
}

TEST_F(FilesTest, DeleteFileAndRemoveEmptyDirectory)
{
    const std::wstring file = m_scratch / L"file.txt";
    const std::wstring full = m_scratch / L"full";
    const std::wstring empty = m_scratch / L"empty";
    write_file(file);
    ASSERT_TRUE(::CreateDirectoryW(full.c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW(empty.c_str(), nullptr));
    write_file(full + L"\\inside.txt");

    EXPECT_TRUE(qx::delete_file(file.c_str()));
    EXPECT_FALSE(is_file(file));
    EXPECT_FALSE(qx::delete_file(file.c_str()));
    EXPECT_FALSE(qx::remove_directory(full.c_str()));
    EXPECT_TRUE(is_folder(full));
    EXPECT_TRUE(qx::remove_directory(empty.c_str()));
    EXPECT_FALSE(is_folder(empty));
}

TEST_F(FilesTest, TreeOnADriveCreatesEachLevelInOrder)
{
    const std::wstring root = m_scratch.path();
    ASSERT_EQ(root.substr(1, 2), L":\\");
    scoped_kernel_stubs stubs{stub("CreateDirectoryW", RecordAndCreate)};

    ASSERT_TRUE(qx::create_directory_tree((root + L"a\\b\\c").c_str()));
    ASSERT_GE(g_created.size(), 3u);
    EXPECT_EQ(g_created.front(), root.substr(0, root.find(L'\\', 3) + 1)) << "the drive itself is never created";
    const std::vector<std::wstring> newLevels(g_created.end() - 3, g_created.end());
    EXPECT_EQ(newLevels, (std::vector<std::wstring>{root + L"a\\", root + L"a\\b\\", root + L"a\\b\\c\\"}));
    EXPECT_TRUE(is_folder(root + L"a\\b\\c"));

    // Levels that exist already count as made.
    g_created.clear();
    EXPECT_TRUE(qx::create_directory_tree((root + L"a\\b\\c\\d\\").c_str()));
    EXPECT_EQ(g_created.back(), root + L"a\\b\\c\\d\\");
    EXPECT_TRUE(is_folder(root + L"a\\b\\c\\d"));
}

TEST_F(FilesTest, TreeStopsAtTheFirstRealFailure)
{
    scoped_kernel_stubs stubs{stub("CreateDirectoryW", RecordAndDeny)};
    EXPECT_FALSE(qx::create_directory_tree(L"C:\\x\\y\\z"));
    EXPECT_EQ(g_created, (std::vector<std::wstring>{L"C:\\x\\"}));
}

TEST_F(FilesTest, TreeOnANetworkPathLeavesServerAndShareAlone)
{
    scoped_kernel_stubs stubs{stub("CreateDirectoryW", RecordOnly)};
    const struct {
        const wchar_t* path;
        std::vector<std::wstring> created;
    } cases[] = {
        {L"\\\\server\\share\\x\\y", {L"\\\\server\\share\\x\\", L"\\\\server\\share\\x\\y\\"}},
        {L"\\\\server\\share\\x\\", {L"\\\\server\\share\\x\\"}},
        {L"\\\\server\\share", {}},
        {L"\\\\server", {}},
    };
    for (const auto& c : cases) {
        g_created.clear();
        EXPECT_TRUE(qx::create_directory_tree(c.path)) << c.path;
        EXPECT_EQ(g_created, c.created) << c.path;
    }
}
