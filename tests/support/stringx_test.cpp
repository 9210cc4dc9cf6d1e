#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <string>
#include <utility>

#include "support/stringx.h"

namespace {

using xstring = _stringx<>;

constexpr DWORD kMarker = 0x1234ABCD;
const wchar_t kLong[] = L"a text well past the inline storage of seven characters";

} // namespace

TEST(Stringx, ConstructorsGiveTheTextAndKeepTheLastError)
{
    const xstring heapSource(kLong);
    const struct {
        const char* name;
        std::function<xstring()> make;
        std::wstring text;
    } cases[] = {
        {"empty", [] { return xstring(); }, L""},
        {"pointer and length", [] { return xstring(kLong, 20); }, std::wstring(kLong, 20)},
        {"NUL-terminated", [] { return xstring(kLong); }, kLong},
        {"std::wstring", [] { return xstring(std::wstring(kLong)); }, kLong},
        {"copy", [&] { return xstring(heapSource); }, kLong},
        {"move",
         [] {
             xstring source(kLong);
             return xstring(std::move(source));
         },
         kLong},
        {"counted ANSI", [] { return xstring("plain text", 0, 5); }, L"plain"},
        {"UTF-8", [] { return xstring("\xE2\x82\xAC 5", CP_UTF8); }, L"\x20AC 5"},
        {"UTF-16LE counted", [] { return xstring("A\0B\0C\0", 1200, 6); }, L"ABC"},
        {"UTF-16LE to its NUL", [] { return xstring("A\0B\0\0\0C\0", 1200); }, L"AB"},
        {"UTF-16LE odd byte", [] { return xstring("A\0B", 1200, 3); }, L"A"},
        {"UTF-16BE", [] { return xstring("\0A\x20\xAC\0b\0c\0d\0e\0f\0g", 1201, 16); },
         L"A\x20AC"
         L"bcdefg"},
        {"failed conversion", [] { return xstring("", CP_UTF8, 0); }, L""},
    };
    for (const auto& c : cases) {
        ::SetLastError(kMarker);
        const std::wstring text = c.make().str(); // constructs and destroys
        EXPECT_EQ(::GetLastError(), kMarker) << c.name;
        EXPECT_EQ(text, c.text) << c.name;
    }
}

TEST(StringxLastError, DestructorAndBufferReleaseKeepTheCodeSetMeanwhile)
{
    xstring s(kLong);
    {
        xstring other(kLong);
        other.narrow();
        other.bstr();
        ::SetLastError(ERROR_FILE_NOT_FOUND);
    }
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    // The string takes the text back up to its first NUL, after the system call set its code.
    {
        xstring::string_buffer buffer(s);
        wchar_t* chars = buffer.get();
        chars[0] = L'A';
        chars[3] = L'\0';
        ::SetLastError(ERROR_MORE_DATA);
    }
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
    EXPECT_EQ(s.str(), L"A t");
}

TEST(StringxCapacity, InlineUpToSevenThenGrowsByHalfAtLeast)
{
    const struct {
        std::size_t length;
        std::size_t capacity;
    } built[] = {{0, 7}, {7, 7}, {8, 15}, {15, 15}, {16, 23}, {31, 31}, {100, 103}};
    for (const auto& c : built) {
        EXPECT_EQ(xstring(std::wstring(c.length, L'x')).capacity(), c.capacity) << c.length;
    }

    const struct {
        std::size_t before; // a full string: length equals capacity
        std::size_t added;
        bool assign; // replaces the text instead of appending to it
        std::size_t capacity;
    } grown[] = {
        {7, 1, false, 15},   // leaving inline storage
        {15, 1, false, 23},  // 16 | 7
        {31, 1, false, 46},  // 31 + 31 / 2 beats 32 | 7
        {31, 20, false, 55}, // 51 | 7 beats 46
        {31, 1, true, 46},
    };
    for (const auto& c : grown) {
        xstring s(std::wstring(c.before, L'x'));
        ASSERT_EQ(s.capacity(), c.before);
        const std::wstring expected = std::wstring(c.before, L'x') + std::wstring(c.added, L'y');
        c.assign ? s.assign(expected.c_str(), expected.size()) : s.append(c.added, L'y');
        EXPECT_EQ(s.capacity(), c.capacity) << c.before << "+" << c.added;
        EXPECT_EQ(s.str(), expected);
        EXPECT_EQ(s.c_str()[s.length()], L'\0');
    }

    // A source inside the string itself survives the reallocation.
    xstring s(L"0123456789");
    s.append(s);
    s += s.c_str() + 15;
    EXPECT_EQ(s.str(), L"0123456789012345678956789");
}

TEST(StringxSearch, IgnoresCaseAndKeepsItsBounds)
{
    EXPECT_TRUE(xstring(L"Registry") == xstring(L"REGISTRY"));
    EXPECT_TRUE(xstring(L"registry") == L"Registry");
    EXPECT_FALSE(xstring(L"Registry") == L"Registr");
    EXPECT_FALSE(xstring(L"Registry") == L"Registry ");

    const xstring s(L"MACHINE\\Software\\Registry");
    const std::size_t npos = xstring::npos;
    const struct {
        const wchar_t* what;
        std::size_t from;
        std::size_t expected;
    } cases[] = {
        {L"REGISTRY", 0, 17}, {L"registry", 17, 17},   {L"registry", 18, npos}, {L"machine\\s", 0, 0},
        {L"", 25, 25},        {L"Registry!", 0, npos}, {L"", 26, npos},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(s.find(c.what, c.from), c.expected) << c.what << " from " << c.from;
    }
    EXPECT_EQ(s.find(L'r', 0), 14u); // the 'r' of "Software"
    EXPECT_EQ(s.rfind(L'm'), 0u);
    EXPECT_EQ(s.rfind(L'\\', 15), 7u);
}

TEST(Format, TargetBecomesExactlyTheNewText)
{
    xstring s(L"a previous text that is much longer than the result");
    Format(s, L"%x", 1603);
    EXPECT_EQ(s.str(), L"643");
    Format(s, L"0x%08x", 259);
    EXPECT_EQ(s.str(), L"0x00000103");
    Format(s, L"'%s' failed: %d", L"C:\\Program Files\\Qx\\file.dll", -5);
    EXPECT_EQ(s.str(), L"'C:\\Program Files\\Qx\\file.dll' failed: -5");

    const std::wstring big(5000, L'q'); // no fixed limit
    Format(s, L"%s|%s", big.c_str(), big.c_str());
    EXPECT_EQ(s.str(), big + L"|" + big);
}
