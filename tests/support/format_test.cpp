#include <gtest/gtest.h>

#include <string>

#include "support/stringx.h"

namespace {

std::wstring text_of(const _stringx<>& s)
{
    return std::wstring(s.c_str(), s.length());
}

} // namespace

TEST(Format, ConversionsFollowTheCLibrary)
{
    _stringx<> s;
    Format(s, L"%x", 1603);
    EXPECT_EQ(text_of(s), L"643");
    Format(s, L"0x%08x", 259);
    EXPECT_EQ(text_of(s), L"0x00000103");
    Format(s, L"'%s' failed: %d", L"C:\\Program Files\\Qx\\file.dll", -5);
    EXPECT_EQ(text_of(s), L"'C:\\Program Files\\Qx\\file.dll' failed: -5");
}

TEST(Format, TargetBecomesExactlyTheNewText)
{
    const struct {
        const wchar_t* before;
        const wchar_t* argument;
    } cases[] = {
        {L"", L"x"},
        {L"a previous text that is much longer than the result", L"x"},
        {L"short", L"a formatted result that is much longer than before"},
        {L"same length!", L"exactly"},
    };
    for (const auto& c : cases) {
        _stringx<> s(c.before);
        Format(s, L"<%s>", c.argument);
        EXPECT_EQ(text_of(s), L"<" + std::wstring(c.argument) + L">") << c.before;
    }
}

TEST(Format, HasNoFixedLimit)
{
    std::wstring big(5000, L'q');
    _stringx<> s(L"seed");
    Format(s, L"%s|%s", big.c_str(), big.c_str());
    EXPECT_EQ(s.length(), 10001u);
    EXPECT_EQ(text_of(s), big + L"|" + big);
}
