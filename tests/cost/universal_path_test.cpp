// Wine cannot present a mapped network drive, so UniversalPaths is
// checked through the system calls it takes as parameters.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cost/LockObjectResolution.h"

namespace {

std::vector<std::wstring> g_roots; // every drive root asked about
std::vector<DWORD> g_sizes;        // the buffer size of every universal-name call
DWORD g_failure = NO_ERROR;
std::wstring g_universal;

UINT WINAPI DriveType(LPCWSTR root)
{
    g_roots.push_back(root);
    return root[0] == L'Z' ? DRIVE_REMOTE : DRIVE_FIXED;
}

DWORD WINAPI UniversalName(LPCWSTR, DWORD level, LPVOID buffer, LPDWORD size)
{
    g_sizes.push_back(*size);
    const DWORD needed = static_cast<DWORD>(sizeof(UNIVERSAL_NAME_INFOW) + (g_universal.size() + 1) * 2);
    if (level != UNIVERSAL_NAME_INFO_LEVEL || g_failure != NO_ERROR) {
        return level != UNIVERSAL_NAME_INFO_LEVEL ? ERROR_INVALID_LEVEL : g_failure;
    }
    if (*size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    auto* info = static_cast<UNIVERSAL_NAME_INFOW*>(buffer);
    info->lpUniversalName = reinterpret_cast<wchar_t*>(info + 1);
    std::memcpy(info->lpUniversalName, g_universal.c_str(), (g_universal.size() + 1) * 2);
    return NO_ERROR;
}

TEST(UniversalPath, OnlyMappedDrivesBecomeUniversalNames)
{
    const std::wstring share = L"\\\\server\\share\\";
    const struct {
        const wchar_t* path;
        std::wstring universal; // what the system knows
        DWORD failure;
        std::wstring converted;
        std::vector<std::wstring> roots;
        std::size_t calls;
    } cases[] = {
        {L"Z:\\app", share + L"app", NO_ERROR, share + L"app", {L"Z:"}, 1},
        // The drive's type is asked once.
        // Too long for the first buffer: the size the system asks for, once more.
        {L"Z:\\deep", share + std::wstring(400, L'x'), NO_ERROR, share + std::wstring(400, L'x'), {}, 2},
        {L"Z:\\app", share + L"app", ERROR_NOT_CONNECTED, L"Z:\\app", {}, 1},
        {L"C:\\Program Files\\App\\", share, NO_ERROR, L"C:\\Program Files\\App\\", {L"C:"}, 0},
        {L"\\\\other\\share\\x", share, NO_ERROR, L"\\\\other\\share\\x", {}, 0}, // universal already
    };
    UniversalNameCalls calls;
    calls.getDriveType = &DriveType;
    calls.getUniversalName = &UniversalName;
    UniversalPaths paths(calls);
    for (const auto& c : cases) {
        g_roots.clear();
        g_sizes.clear();
        g_universal = c.universal;
        g_failure = c.failure;
        _stringx<> path(c.path);
        paths.Convert(path);
        EXPECT_EQ(c.converted, path.str()) << c.path;
        EXPECT_EQ(c.roots, g_roots) << c.path;
        EXPECT_EQ(c.calls, g_sizes.size()) << c.path;
    }
}

} // namespace
