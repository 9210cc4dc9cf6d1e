#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cost/CustomActionData.h"
#include "cost/PermissionsItem.h"

namespace {

std::vector<std::wstring> Split(const wchar_t* source, const wchar_t* separator, DWORD options)
{
    std::vector<_stringx<>> pieces;
    SplitString(source, separator, options, pieces);
    std::vector<std::wstring> out;
    for (const auto& piece : pieces) {
        out.push_back(piece.str());
    }
    return out;
}

} // namespace

TEST(SplitString, KeepsOrDropsEmptyPieces)
{
    struct Case {
        const wchar_t* source;
        DWORD options;
        std::vector<std::wstring> expected;
    };
    const Case cases[] = {
        {L"a|b|c", 0, {L"a", L"b", L"c"}},
        {L"|a", 0, {L"", L"a"}},
        {L"a||b", 0, {L"a", L"", L"b"}},
        {L"a|", 0, {L"a"}}, // a trailing separator adds no empty piece
        {L"a||", 0, {L"a", L""}},
        {L"", 0, {L""}},
        {L"|", 0, {L""}},
        {L"", SPLIT_DROP_EMPTY, {}},
        {L"|a||b|", SPLIT_DROP_EMPTY, {L"a", L"b"}},
        {L"abc", 0, {L"abc"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Split(c.source, L"|", c.options), c.expected) << "source '" << std::wstring(c.source) << "'";
    }
}

TEST(SplitString, MultiCharacterSeparatorMatchesWithoutRegardToCase)
{
    EXPECT_EQ(Split(L"oneXYtwoxythree", L"xy", 0), (std::vector<std::wstring>{L"one", L"two", L"three"}));
}

TEST(ReadDataNumber, FollowsTheWritersSignedDecimals)
{
    struct Case {
        const wchar_t* text;
        DWORD expected;
    };
    const Case cases[] = {
        {L"0", 0},
        {L"2032127", 0x1F01FF},
        {L"-2147483648", 0x80000000},
        {L"268435456", 0x10000000},
        {L"-1", 0xFFFFFFFF},
        {L"  +22", 22},
        {L"\t7", 7},
        {L"12abc", 12},
        {L"abc", 0},
        {L"", 0},
        {L"-", 0},
        {L"- 5", 0},
        {L"4294967295", 0xFFFFFFFF},
        {L"4294967296", 0xFFFFFFFF},
        {L"-4294967296", 0xFFFFFFFF},
        {L"000000000000000000000000000042", 42},
        {L"99999999999999999999999999999999999999", 0xFFFFFFFF},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ReadDataNumber(c.text), c.expected) << "text '" << std::wstring(c.text) << "'";
    }
}

TEST(LockObjectKind, TableWordMatchesWholeWordWithoutCase)
{
    struct Case {
        const wchar_t* word;
        LockObjectKind kind;
        SE_OBJECT_TYPE type;
    };
    const Case cases[] = {
        {L"File", LockObjectKind::File, SE_FILE_OBJECT},
        {L"fILE", LockObjectKind::File, SE_FILE_OBJECT},
        {L"CreateFolder", LockObjectKind::CreateFolder, SE_FILE_OBJECT},
        {L"createfolder", LockObjectKind::CreateFolder, SE_FILE_OBJECT},
        {L"registry", LockObjectKind::Registry, SE_REGISTRY_KEY},
        {L"Files", LockObjectKind::Unknown, SE_UNKNOWN_OBJECT_TYPE},
        {L"Reg", LockObjectKind::Unknown, SE_UNKNOWN_OBJECT_TYPE},
        {L"", LockObjectKind::Unknown, SE_UNKNOWN_OBJECT_TYPE},
    };
    for (const Case& c : cases) {
        LockObjectKind kind = LockObjectKindFromTable(c.word);
        EXPECT_EQ(kind, c.kind) << std::wstring(c.word);
        EXPECT_EQ(ObjectTypeForKind(kind), c.type) << std::wstring(c.word);
    }
}
