// Wine cannot present a drive as a mapped network drive, so the decisions of
// ConvertToUniversalPath are checked through its substitutable system calls.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cost/LockObjectResolution.h"

namespace {

struct Recorder {
    std::vector<std::wstring> driveRoots;
    int universalCalls = 0;
    DWORD firstAnswer = NO_ERROR; // ERROR_MORE_DATA makes the first call ask for a larger buffer
    DWORD finalAnswer = NO_ERROR;
    std::wstring universalName = L"\\\\server\\share\\app\\data";
};
Recorder g_recorder;

UINT WINAPI FakeDriveType(LPCWSTR root)
{
    g_recorder.driveRoots.push_back(root ? root : L"");
    return root && (root[0] == L'Z' || root[0] == L'z') ? DRIVE_REMOTE : DRIVE_FIXED;
}

DWORD WINAPI FakeUniversalName(LPCWSTR /*path*/, DWORD level, LPVOID buffer, LPDWORD size)
{
    ++g_recorder.universalCalls;
    if (level != UNIVERSAL_NAME_INFO_LEVEL) {
        return ERROR_INVALID_LEVEL;
    }
    DWORD needed = static_cast<DWORD>(sizeof(UNIVERSAL_NAME_INFOW) + (g_recorder.universalName.size() + 1) * 2);
    if (g_recorder.universalCalls == 1 && g_recorder.firstAnswer == ERROR_MORE_DATA) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    if (g_recorder.finalAnswer != NO_ERROR) {
        return g_recorder.finalAnswer;
    }
    if (*size < needed) {
        return ERROR_MORE_DATA;
    }
    auto* info = static_cast<UNIVERSAL_NAME_INFOW*>(buffer);
    auto* text = reinterpret_cast<wchar_t*>(info + 1);
    std::memcpy(text, g_recorder.universalName.c_str(), (g_recorder.universalName.size() + 1) * 2);
    info->lpUniversalName = text;
    return NO_ERROR;
}

std::wstring Convert(const wchar_t* path)
{
    UniversalNameCalls calls;
    calls.getDriveType = &FakeDriveType;
    calls.getUniversalName = &FakeUniversalName;
    _stringx<> converted(path);
    ConvertToUniversalPath(converted, calls);
    return converted.str();
}

class UniversalPath : public ::testing::Test {
protected:
    void SetUp() override { g_recorder = Recorder(); }
};

} // namespace

TEST_F(UniversalPath, MappedDriveBecomesUniversalName)
{
    EXPECT_EQ(Convert(L"Z:\\app\\data"), L"\\\\server\\share\\app\\data");
    // The drive root is asked for without a trailing backslash.
    EXPECT_EQ(g_recorder.driveRoots, std::vector<std::wstring>{L"Z:"});
    EXPECT_EQ(g_recorder.universalCalls, 1);
}

TEST_F(UniversalPath, LargerBufferIsAskedForOnce)
{
    g_recorder.firstAnswer = ERROR_MORE_DATA;
    g_recorder.universalName = L"\\\\server\\share\\" + std::wstring(400, L'x');
    EXPECT_EQ(Convert(L"Z:\\deep"), g_recorder.universalName);
    EXPECT_EQ(g_recorder.universalCalls, 2);
}

TEST_F(UniversalPath, PathsThatAreNotOnMappedDrivesStayAsTheyAre)
{
    EXPECT_EQ(Convert(L"\\\\other\\share\\x"), L"\\\\other\\share\\x");
    EXPECT_TRUE(g_recorder.driveRoots.empty()); // already universal: no system call
    EXPECT_EQ(Convert(L"C:\\Program Files\\App\\"), L"C:\\Program Files\\App\\");
    EXPECT_EQ(g_recorder.universalCalls, 0);
}

TEST_F(UniversalPath, FailedLookupLeavesThePath)
{
    g_recorder.finalAnswer = ERROR_NOT_CONNECTED;
    EXPECT_EQ(Convert(L"Z:\\app"), L"Z:\\app");
}
