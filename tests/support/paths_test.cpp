#include <gtest/gtest.h>

#include <string>

#include "support/paths.h"

namespace {

std::wstring text_of(const _stringx<>& s)
{
    return std::wstring(s.c_str(), s.length());
}

} // namespace

TEST(AppendPathPart, ExactlyOneSeparatorBetween)
{
    const struct {
        const wchar_t* path;
        const wchar_t* part;
        wchar_t separator;
        const wchar_t* expected;
    } cases[] = {
        {L"C:\\a", L"", L'\\', L"C:\\a"},
        {L"", L"b", L'\\', L"b"},
        {L"", L"\\b", L'\\', L"\\b"},
        {L"C:\\a", L"b", L'\\', L"C:\\a\\b"},
        {L"C:\\a\\", L"b", L'\\', L"C:\\a\\b"},
        {L"C:\\a", L"\\b", L'\\', L"C:\\a\\b"},
        {L"C:\\a\\", L"\\b", L'\\', L"C:\\a\\b"},
        {L"C:\\a\\", L"\\\\b", L'\\', L"C:\\a\\\\b"}, // only one separator is dropped
        {L"C:\\a\\", L"b\\", L'\\', L"C:\\a\\b\\"},
        {L"key", L"sub", L'/', L"key/sub"},
        {L"key\\", L"sub", L'/', L"key\\/sub"},
    };
    for (const auto& c : cases) {
        _stringx<> path(c.path);
        AppendPathPart(path, c.part, c.separator);
        EXPECT_EQ(text_of(path), c.expected) << c.path << L" + " << c.part;
    }
}

TEST(CombinePath, JoinsWithABackslashAndLeavesTheFirst)
{
    const _stringx<> root(L"MACHINE");
    EXPECT_EQ(text_of(CombinePath(root, L"Software\\Qelmora")), L"MACHINE\\Software\\Qelmora");
    EXPECT_EQ(text_of(CombinePath(L"C:\\dir\\", L"\\file.txt")), L"C:\\dir\\file.txt");
    EXPECT_EQ(text_of(CombinePath(L"", L"file.txt")), L"file.txt");
    EXPECT_EQ(text_of(root), L"MACHINE");
}

TEST(GetPathRoot, DriveShareOrNothing)
{
    const struct {
        const wchar_t* path;
        bool trailing;
        const wchar_t* expected;
    } cases[] = {
        {L"C:\\dir\\file.txt", false, L"C:"},
        {L"C:\\dir\\file.txt", true, L"C:\\"},
        {L"d:", false, L"d:"},
        {L"\\\\server\\share\\dir\\file", false, L"\\\\server\\share"},
        {L"\\\\server\\share\\dir\\file", true, L"\\\\server\\share\\"},
        {L"\\\\server\\share", false, L"\\\\server\\share"},
        {L"\\\\server\\share\\", false, L"\\\\server\\share"},
        {L"\\\\server", false, L"\\\\server"},
        {L"\\\\server\\", true, L"\\\\server\\"},
        {L"\\\\", false, L""},
        {L"dir\\file", false, L""},
        {L"dir\\file", true, L"\\"},
        {L"", true, L"\\"},
        {L"C", false, L""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(text_of(GetPathRoot(c.path, c.trailing)), c.expected) << c.path << L" " << c.trailing;
    }
}

TEST(AddBackslash, AppendsOnlyWhenMissing)
{
    const struct {
        const wchar_t* path;
        const wchar_t* expected;
    } cases[] = {
        {L"C:\\dir\\", L"C:\\dir\\"},
        {L"C:\\dir", L"C:\\dir\\"},
        {L"", L"\\"},
        {L"C:\\dir/", L"C:\\dir/\\"},
    };
    for (const auto& c : cases) {
        _stringx<> path(c.path);
        qx::add_backslash(path);
        EXPECT_EQ(text_of(path), c.expected) << c.path;
    }
}

TEST(ChangeExtension, ReplacesOrDropsTheFileExtension)
{
    const struct {
        const wchar_t* path;
        const wchar_t* extension;
        const wchar_t* expected;
    } cases[] = {
        {L"C:\\a\\b.tmp", L"log", L"C:\\a\\b.log"},
        {L"C:\\a\\b.tmp", L"", L"C:\\a\\b"},
        {L"C:\\a\\b", L"log", L"C:\\a\\b.log"},
        {L"C:\\a\\b.x.tmp", L"", L"C:\\a\\b.x"},
        {L"C:\\a.d\\b", L"log", L"C:\\a.d\\b.log"}, // a dot in a folder name is no extension
        {L"C:\\a.d/b", L"", L"C:\\a.d/b"},
        {L"C:b.c", L"", L"C:b"},
        {L"C:\\T\\{4C0E}", L"dat", L"C:\\T\\{4C0E}.dat"},
        {L"name.TMP", L"exe", L"name.exe"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(text_of(qx::change_extension(c.path, c.extension)), c.expected) << c.path << L" " << c.extension;
    }
}
