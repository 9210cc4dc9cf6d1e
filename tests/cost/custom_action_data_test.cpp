#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <utility>
#include <vector>

#include "cost/CustomActionData.h"
#include "cost/PermissionsItem.h"
#include "support/log_sink.h"

namespace {

class NoLog : public qx::log_sink {
public:
    void Log(const _stringx<>&) override { }
};

// The access mask and flags read from a record whose two number fields hold text
// (a seventh field keeps empty ones from being the record's last).
std::pair<DWORD, DWORD> ReadNumbers(const std::wstring& text)
{
    std::vector<PermissionsItem> items;
    NoLog log;
    const std::wstring record = L"x|File||Everyone|" + text + L"|" + text + L"|end";
    if (ParseCustomActionData(_stringx<>(record.c_str(), record.size()), items, log) != ERROR_SUCCESS ||
        items.size() != 1) {
        ADD_FAILURE() << "record not read";
        return {};
    }
    return {items[0].m_dwPermission, items[0].m_dwFlags};
}

} // namespace

TEST(CustomActionDataNumbers, FollowTheWritersSignedDecimals)
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
        EXPECT_EQ(ReadNumbers(c.text), std::make_pair(c.expected, c.expected))
            << "text '" << std::wstring(c.text) << "'";
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
        LockObjectKind kind = LockObjectKindFromTable(c.word, std::wcslen(c.word));
        EXPECT_EQ(kind, c.kind) << std::wstring(c.word);
        EXPECT_EQ(ObjectTypeForKind(kind), c.type) << std::wstring(c.word);
    }
}
