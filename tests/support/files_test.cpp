#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kernel_stubs.h"
#include "support/files.h"

namespace {

std::vector<std::wstring> g_created; // every folder creation asked of the system
DWORD g_creationError = 0;           // what each creation fails with; 0: it succeeds

BOOL WINAPI RecordCreation(LPCWSTR path, LPSECURITY_ATTRIBUTES)
{
    g_created.emplace_back(path);
    ::SetLastError(g_creationError);
    return g_creationError == 0;
}

} // namespace

TEST(Files, CreateDirectoryTreeCreatesEachLevelBelowTheDriveOrShare)
{
    const struct {
        const wchar_t* path;
        DWORD error;
        bool made;
        std::vector<std::wstring> created;
    } cases[] = {
        {L"C:\\a\\b", 0, true, {L"C:\\a\\", L"C:\\a\\b\\"}},
        {L"C:\\a\\b\\", ERROR_ALREADY_EXISTS, true, {L"C:\\a\\", L"C:\\a\\b\\"}},
        {L"C:\\x\\y\\z", ERROR_ACCESS_DENIED, false, {L"C:\\x\\"}}, // stops at the first real failure
        {L"\\\\server\\share\\x\\y", 0, true, {L"\\\\server\\share\\x\\", L"\\\\server\\share\\x\\y\\"}},
        {L"\\\\server\\share\\", 0, true, {}},
        {L"\\\\server", 0, true, {}},
    };
    scoped_kernel_stubs stubs{stub("CreateDirectoryW", RecordCreation)};
    for (const auto& c : cases) {
        g_created.clear();
        g_creationError = c.error;
        EXPECT_EQ(qx::create_directory_tree(c.path), c.made) << c.path;
        EXPECT_EQ(g_created, c.created) << c.path;
    }
}
