#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <random>

#include "support/stringx.h"

namespace {

using xstring = _stringx<>;

constexpr DWORD kMarker = 0x1234ABCD;
const wchar_t kLong[] = L"a text well past the inline storage of seven characters";

// A string can be made and dropped between a failing call and the GetLastError that reads its code.
TEST(Stringx, ConstructorsGiveTheTextAndKeepTheLastError)
{
    const xstring heap(kLong);
    const std::pair<std::function<xstring()>, std::wstring> cases[] = {
        {[] { return xstring(kLong, 20); }, std::wstring(kLong, 20)},
        {[&] { return xstring(heap); }, kLong},
        {[] { return xstring(xstring(kLong)); }, kLong},
        {[] { return xstring("\xE2\x82\xAC 5", CP_UTF8); }, L"\x20AC 5"}};
    for (const auto& c : cases) {
        ::SetLastError(kMarker);
        EXPECT_EQ(c.second, c.first().str());
        EXPECT_EQ(kMarker, ::GetLastError()) << testing::PrintToString(c.second);
    }
}

TEST(Stringx, DestructorAndBufferReleaseKeepTheCodeSetMeanwhile)
{
    xstring s(kLong);
    {
        xstring other(kLong);
        other.bstr();
        ::SetLastError(ERROR_FILE_NOT_FOUND);
    }
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), ::GetLastError());
    {
        // The string takes the text back up to its first NUL, after the system call set its code.
        xstring::string_buffer buffer(s);
        wchar_t* chars = buffer.get();
        chars[0] = L'A';
        chars[3] = L'\0';
        ::SetLastError(ERROR_MORE_DATA);
    }
    EXPECT_EQ(static_cast<DWORD>(ERROR_MORE_DATA), ::GetLastError());
    EXPECT_EQ(L"A t", s.str());

    // A text appended from inside the string itself survives the reallocation.
    xstring self(L"0123456789");
    self.append(self);
    self += self.c_str() + 15;
    EXPECT_EQ(L"0123456789012345678956789", self.str());
}

// The search looks for the first character before it compares the whole text; it
// must find exactly what a comparison without case at every position finds.
TEST(Stringx, SearchFindsWhatAComparisonAtEveryPositionFinds)
{
    std::mt19937 random(7);
    auto text = [&random](std::size_t longest) {
        static const wchar_t alphabet[] = {L'a', L'A', L'b', L'B', L'*', L'\0', L'\x00e9', L'\x00c9'};
        std::wstring made(std::uniform_int_distribution<std::size_t>(0, longest)(random), L' ');
        for (wchar_t& c : made) {
            c = alphabet[std::uniform_int_distribution<int>(0, 7)(random)];
        }
        return made;
    };
    for (int i = 0; i < 50000; ++i) {
        const std::wstring source = text(14), sought = text(4);
        const std::size_t from = std::uniform_int_distribution<std::size_t>(0, source.size() + 1)(random);
        std::size_t expected = xstring::npos;
        for (std::size_t at = from; at + sought.size() <= source.size() && expected == xstring::npos; ++at) {
            if (sought.empty() || _wcsnicmp(source.c_str() + at, sought.c_str(), sought.size()) == 0) {
                expected = at;
            }
        }
        const xstring haystack(source.c_str(), source.size());
        ASSERT_EQ(expected, haystack.find(xstring(sought.c_str(), sought.size()), from)) << i;
        if (sought.size() == 1) {
            ASSERT_EQ(from < source.size() ? expected : xstring::npos, haystack.find(sought[0], from)) << i;
        }
    }
    EXPECT_TRUE(xstring(L"registry") == L"REGISTRY");
    EXPECT_FALSE(xstring(L"Registry") == L"Registry ");
    EXPECT_EQ(7u, xstring(L"MACHINE\\Software").rfind(L'\\'));
}

} // namespace
