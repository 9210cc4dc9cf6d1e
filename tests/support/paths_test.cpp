#include <gtest/gtest.h>

#include <string>

#include "support/paths.h"

TEST(Paths, AppendPathPartAndCombinePathLeaveExactlyOneSeparator)
{
    const struct {
        const wchar_t* path;
        const wchar_t* part;
        wchar_t separator;
        const wchar_t* expected;
    } cases[] = {
        {L"C:\\a", L"", L'\\', L"C:\\a"},
        {L"", L"\\b", L'\\', L"\\b"},
        {L"C:\\a", L"b", L'\\', L"C:\\a\\b"},
        {L"C:\\a\\", L"b\\", L'\\', L"C:\\a\\b\\"},
        {L"C:\\a", L"\\b", L'\\', L"C:\\a\\b"},
        {L"C:\\a\\", L"\\b", L'\\', L"C:\\a\\b"},
        {L"C:\\a\\", L"\\\\b", L'\\', L"C:\\a\\\\b"}, // only one separator is dropped
        {L"key\\", L"sub", L'/', L"key\\/sub"},
    };
    for (const auto& c : cases) {
        _stringx<> path(c.path);
        AppendPathPart(path, c.part, c.separator);
        EXPECT_EQ(path.str(), c.expected) << c.path << L" + " << c.part;
        if (c.separator == L'\\') {
            EXPECT_EQ(CombinePath(c.path, c.part).str(), c.expected) << c.path << L" + " << c.part;
        }
    }
}

TEST(Paths, GetPathRootIsADriveAShareOrNothing)
{
    const struct {
        const wchar_t* path;
        bool trailing;
        const wchar_t* expected;
    } cases[] = {
        {L"C:\\dir\\file.txt", false, L"C:"},
        {L"d:", true, L"d:\\"},
        {L"\\\\server\\share\\dir\\file", false, L"\\\\server\\share"},
        {L"\\\\server\\share\\dir\\file", true, L"\\\\server\\share\\"},
        {L"\\\\server\\share", false, L"\\\\server\\share"},
        {L"\\\\server", false, L"\\\\server"},
        {L"\\\\", false, L""},
        {L"dir\\file", false, L""},
        {L"dir\\file", true, L"\\"},
        {L"C", false, L""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(GetPathRoot(c.path, c.trailing).str(), c.expected) << c.path << L" " << c.trailing;
    }
}
