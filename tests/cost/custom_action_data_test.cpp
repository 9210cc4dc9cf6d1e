// The custom action data reader against texts whose reading is known because they
// are built from it: records are made as lists of fields joined with the
// separators, and each number field is rendered from the value it must read as.
// QX_FUZZ_CASES and QX_FUZZ_SEED choose other texts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cwctype>
#include <random>

#include "RecordingLog.h"
#include "cost/CustomActionData.h"

namespace {

// How a text reads: the status, every field of each item as text, and the log lines.
struct Reading {
    DWORD status = 0;
    std::vector<std::wstring> items, lines;
    bool operator==(const Reading& o) const { return status == o.status && items == o.items && lines == o.lines; }
};

// An item's fields as text; the type, when not given, is the kind's.
std::wstring ItemText(const std::wstring& object, LockObjectKind kind, const std::wstring& domain,
                      const std::wstring& user, DWORD permission, DWORD flags, int type = -1)
{
    if (type == -1) {
        type = kind == LockObjectKind::Registry  ? SE_REGISTRY_KEY
               : kind == LockObjectKind::Unknown ? SE_UNKNOWN_OBJECT_TYPE
                                                 : SE_FILE_OBJECT;
    }
    return object + L"/" + std::to_wstring(static_cast<int>(kind)) + L"/" + std::to_wstring(type) + L"/" + domain +
           L"/" + user + L"/" + std::to_wstring(permission) + L"/" + std::to_wstring(flags);
}

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
        reading.items.push_back(ItemText(i.m_strObjectName.str(), i.m_kind, i.m_strDomain.str(), i.m_strUser.str(),
                                         i.m_dwPermission, i.m_dwFlags, i.m_objectType));
    }
    reading.lines = log.lines;
    return reading;
}

class TextMaker {
public:
    explicit TextMaker(unsigned seed) : m_random(seed) { }

    // A text of zero to five records and how it must read.
    std::wstring Next(Reading& expected)
    {
        std::vector<std::pair<std::wstring, std::wstring>> records(Below(6)); // text, item (empty: invalid)
        std::wstring text;
        for (std::size_t i = 0; i < records.size(); ++i) {
            records[i] = Record();
            text += (i ? L"*" : L"") + records[i].first;
        }
        if (!records.empty() && Below(5) == 0) {
            text += L"*"; // a separator at the end adds no record...
        } else if (records.size() > 1 && records.back().first.empty()) {
            records.pop_back(); // ...so an empty last record is none
        }
        expected = text.empty()
                       ? Reading{ERROR_NO_MORE_ITEMS, {}, {L"No permissions items present. Skipping action..."}}
                       : Reading();
        for (std::size_t i = 0; i < records.size() && !text.empty() && expected.status == 0; ++i) {
            if (records[i].second.empty()) { // the reading stops at a record of fewer than six fields
                expected = {ERROR_INVALID_PARAMETER, expected.items, {L"Item contains invalid data"}};
            } else {
                expected.items.push_back(records[i].second);
            }
        }
        return text;
    }

private:
    unsigned Below(unsigned bound) { return std::uniform_int_distribution<unsigned>(0, bound - 1)(m_random); }

    // Any UTF-16 unit but the two separators, NUL included.
    std::wstring Free(unsigned longest)
    {
        std::wstring text;
        for (unsigned n = Below(longest + 1); n > 0; --n) {
            const auto c = static_cast<wchar_t>(Below(3) ? 0x20 + Below(0x5F) : Below(0x10000));
            text += c == L'*' || c == L'|' ? L'_' : c;
        }
        return text;
    }

    // A number field and the value it must read as.
    std::wstring Number(DWORD& value)
    {
        const DWORD v = static_cast<DWORD>(m_random());
        const std::wstring blanks = std::wstring(L" \t\r\n\v\f").substr(Below(6), Below(3));
        const std::wstring zeros(Below(3) ? 0 : Below(30), L'0');
        static const wchar_t* const none[] = {L"", L"-", L"+", L"--5", L"+-5", L"- 5", L"x12", L"\x0661\x0662"};
        switch (Below(5)) {
        case 0: // as the writer writes it
            return value = v, std::to_wstring(static_cast<int>(v));
        case 1: // up to the first character that is no digit
            return value = v,
                   blanks + (Below(2) ? L"+" : L"") + zeros + std::to_wstring(v) + L"x -\0\x0661."[Below(6)] + Free(3);
        case 2: // minus negates modulo 2^32
            return value = 0u - v, blanks + L"-" + zeros + std::to_wstring(v);
        case 3: // beyond 32 bits, with or without a sign
            return value = 0xFFFFFFFFu, blanks + (Below(2) ? L"-" : L"") + zeros + std::to_wstring(0x100000000ull + v) +
                                            std::wstring(Below(30), L'7');
        default:
            return value = 0, blanks + none[Below(8)];
        }
    }

    // Six fields, more (ignored) or fewer (invalid; an empty record has one).
    std::pair<std::wstring, std::wstring> Record()
    {
        const unsigned roll = Below(10);
        const unsigned count = roll == 0 ? Below(6) : roll == 1 ? 7 + Below(3) : 6;
        static const wchar_t* const words[] = {L"file", L"createfolder", L"registry", L"files", L"reg", L""};
        const unsigned pick = Below(6);
        const LockObjectKind kind = pick < 3 ? static_cast<LockObjectKind>(pick) : LockObjectKind::Unknown;
        std::wstring word = words[pick];
        for (wchar_t& c : word) {
            c = Below(2) ? static_cast<wchar_t>(std::towupper(c)) : c; // compared without case
        }
        const std::wstring object = Free(12), domain = Free(6), user = Free(6);
        DWORD permission = 0, flags = 0;
        const std::wstring fields[6] = {object, word, domain, user, Number(permission), Number(flags)};
        std::wstring text;
        for (unsigned i = 0; i < count; ++i) {
            text += (i ? L"|" : L"") + (i < 6 ? fields[i] : Free(5));
        }
        // As at the end of the text, a separator at the end of a record adds no field.
        const unsigned read = count > 1 && text.back() == L'|' ? count - 1 : count;
        return {text, read >= 6 ? ItemText(object, kind, domain, user, permission, flags) : std::wstring()};
    }

    std::mt19937 m_random;
};

unsigned FromEnvironment(const char* name, unsigned fallback)
{
    const char* value = std::getenv(name);
    return value && *value ? static_cast<unsigned>(std::strtoul(value, nullptr, 10)) : fallback;
}

TEST(CustomActionData, GeneratedTextsReadAsTheyWereBuilt)
{
    const unsigned cases = FromEnvironment("QX_FUZZ_CASES", 100000), seed = FromEnvironment("QX_FUZZ_SEED", 20240607);
    TextMaker maker(seed);
    unsigned failures = 0, outcomes[3] = {};
    for (unsigned i = 0; i < cases && failures < 3; ++i) {
        Reading expected;
        const std::wstring text = maker.Next(expected);
        const Reading read = Read(text);
        ++outcomes[read.status == 0 ? 0 : read.status == ERROR_INVALID_PARAMETER ? 1 : 2];
        if (!(read == expected)) {
            ++failures;
            ADD_FAILURE() << "seed " << seed << ", text " << i << ": " << testing::PrintToString(text) << "\n read "
                          << read.items.size() << " items, status " << read.status << "; built "
                          << expected.items.size() << " items, status " << expected.status;
        }
    }
    // Every outcome is reached often, or agreeing proves little.
    EXPECT_GT(outcomes[0], cases / 4);
    EXPECT_GT(outcomes[1], cases / 20);
    EXPECT_GT(outcomes[2], cases / 20);
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
    } cases[] = {{many + L"|File||Everyone|1|8", 0, 1, ItemText(many, LockObjectKind::File, L"", L"Everyone", 1, 8)},
                 {L"x|Registry|" + many + L"|" + many + L"|1|8", 0, 1,
                  ItemText(L"x", LockObjectKind::Registry, many, many, 1, 8)},
                 {L"x|File||u|" + digits + L"|-" + digits, 0, 1,
                  ItemText(L"x", LockObjectKind::File, L"", L"u", 0xFFFFFFFF, 0xFFFFFFFF)},
                 {std::wstring(100000, L'|'), 0, 1, ItemText(L"", LockObjectKind::Unknown, L"", L"", 0, 0)},
                 {records, 0, 100000, ItemText(L"C:\\f99999", LockObjectKind::File, L"", L"Everyone", 99999, 8)},
                 {records + L"x|File||Everyone|1", ERROR_INVALID_PARAMETER, 100000, L""}};
    for (const auto& c : cases) {
        const Reading read = Read(c.text);
        EXPECT_EQ(c.status, read.status) << c.text.size();
        ASSERT_EQ(c.items, read.items.size()) << c.text.size();
        EXPECT_TRUE(c.last.empty() || c.last == read.items.back()) << c.text.size();
    }
}

} // namespace
