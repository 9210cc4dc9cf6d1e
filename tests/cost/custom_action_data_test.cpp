// The custom action data reader: how texts split into records and fields, and how
// number fields read, whether the writers wrote them or a hand spoiled them.
#include <gtest/gtest.h>

#include "RecordingLog.h"
#include "cost/CustomActionData.h"

namespace {

// How a text reads: the status, each item as "object/kind/type/domain/user/permission/flags",
// and the log lines.
struct Reading {
    DWORD status = 0;
    std::vector<std::wstring> items, lines;
};

Reading Read(const std::wstring& text)
{
    qxtest::RecordingLog log;
    std::vector<PermissionsItem> items;
    Reading reading;
    reading.status = qxtest::CodeOf(log, [&] {
        if (!ParseCustomActionData(_stringx<>(text.data(), text.size()), items, log)) {
            throw qx::error(ERROR_NO_MORE_ITEMS, _stringx<>()); // as the action reads an empty text
        }
    });
    for (const PermissionsItem& i : items) {
        reading.items.push_back(i.m_strObjectName.str() + L"/" + std::to_wstring(static_cast<int>(i.m_kind)) + L"/" +
                                std::to_wstring(i.m_objectType) + L"/" + i.m_strDomain.str() + L"/" +
                                i.m_strUser.str() + L"/" + std::to_wstring(i.m_dwPermission) + L"/" +
                                std::to_wstring(i.m_dwFlags));
    }
    reading.lines = log.lines;
    return reading;
}

TEST(CustomActionData, TextsReadAsTheirRecordsAndNumbersSay)
{
    const std::wstring nul(1, L'\0'), a = L"a|File||u|1|8", item = L"a/0/1//u/1/8";
    const struct {
        std::wstring text;
        DWORD status;
        std::vector<std::wstring> items;
    } cases[] = {
        {L"", ERROR_NO_MORE_ITEMS, {}},
        // Table words compared without case, over their whole length.
        {L"f|fILE|D|u|1|8*c|createfolder||u|1|8*r|REGISTRY||u|1|8*s|serviceInstall||u|1|8*x|Files||u|1|8*y|||u|1|8",
         0,
         {L"f/0/1/D/u/1/8", L"c/1/1//u/1/8", L"r/2/4//u/1/8", L"s/3/2//u/1/8", L"x/4/0//u/1/8", L"y/4/0//u/1/8"}},
        // A separator at the end adds no record or field; fields past the sixth are ignored.
        {a + L"*", 0, {item}},
        {a + L"|", 0, {item}},
        {a + L"|x|y|z*" + a, 0, {item, item}},
        // A record of fewer than six fields stops the reading; an empty record has one.
        {L"a|File||u|1|", ERROR_INVALID_PARAMETER, {}},
        {a + L"**" + a, ERROR_INVALID_PARAMETER, {item}},
        {L"*" + a, ERROR_INVALID_PARAMETER, {}},
        {a + L"*a|File||u|1", ERROR_INVALID_PARAMETER, {item}},
        // Fields hold any character but the separators, NUL included.
        {L"a" + nul + L"\x00e9|File|D " + nul + L"|\xd800u|1|8",
         0,
         {L"a" + nul + L"\x00e9/0/1/D " + nul + L"/\xd800u/1/8"}},
        // Blanks, a sign, digits up to the first other character; minus negates modulo 2^32.
        {L"n|File||u| \t\r\n\v\f+0042x9|-1", 0, {L"n/0/1//u/42/4294967295"}},
        {L"n|File||u|-2147483648|-4294967295", 0, {L"n/0/1//u/2147483648/1"}},
        {L"n|File||u|0000000000000000000000007|7" + nul + L"9", 0, {L"n/0/1//u/7/7"}},
        // Beyond 32 bits, with or without a sign.
        {L"n|File||u|4294967296|-99999999999", 0, {L"n/0/1//u/4294967295/4294967295"}},
        // No digits where one is due: 0.
        {L"n|File||u|--5|- 5*n|File||u|+|\x0661\x0662", 0, {L"n/0/1//u/0/0", L"n/0/1//u/0/0"}},
    };
    for (const auto& c : cases) {
        const Reading read = Read(c.text);
        const std::vector<std::wstring> lines =
            c.status == ERROR_NO_MORE_ITEMS
                ? std::vector<std::wstring>{L"No permissions items present. Skipping action..."}
            : c.status == ERROR_INVALID_PARAMETER ? std::vector<std::wstring>{L"Item contains invalid data"}
                                                  : std::vector<std::wstring>{};
        EXPECT_EQ(c.status, read.status) << testing::PrintToString(c.text);
        EXPECT_EQ(c.items, read.items) << testing::PrintToString(c.text);
        EXPECT_EQ(lines, read.lines) << testing::PrintToString(c.text);
    }
}

TEST(CustomActionData, OversizedTextsReadWhole)
{
    const std::wstring many(100000, L'n'), digits(100000, L'9');
    std::wstring records;
    for (int i = 0; i < 100000; ++i) {
        records += L"C:\\f" + std::to_wstring(i) + L"|File||Everyone|" + std::to_wstring(i) + L"|8*";
    }
    const struct {
        std::wstring text;
        DWORD status;
        std::size_t items;
        std::wstring last; // the last item, when there is one
    } cases[] = {{many + L"|File||Everyone|1|8", 0, 1, many + L"/0/1//Everyone/1/8"},
                 {L"x|Registry|" + many + L"|" + many + L"|1|8", 0, 1, L"x/2/4/" + many + L"/" + many + L"/1/8"},
                 {L"x|File||u|" + digits + L"|-" + digits, 0, 1, L"x/0/1//u/4294967295/4294967295"},
                 {std::wstring(100000, L'|'), 0, 1, L"/4/0///0/0"},
                 {records, 0, 100000, L"C:\\f99999/0/1//Everyone/99999/8"},
                 {records + L"x|File||Everyone|1", ERROR_INVALID_PARAMETER, 100000, L""}};
    for (const auto& c : cases) {
        const Reading read = Read(c.text);
        EXPECT_EQ(c.status, read.status) << c.text.size();
        ASSERT_EQ(c.items, read.items.size()) << c.text.size();
        EXPECT_TRUE(c.last.empty() || c.last == read.items.back()) << c.text.size();
    }
}

} // namespace
