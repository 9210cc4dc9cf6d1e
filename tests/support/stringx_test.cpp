#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>

#include "support/stringx.h"

namespace {

using xstring = _stringx<>;

constexpr DWORD kMarker = 0x1234ABCD;

const wchar_t kLong[] = L"a text well past the inline storage of seven characters";

std::wstring text_of(const xstring& s)
{
    return std::wstring(s.c_str(), s.length());
}

std::wstring repeated(std::size_t count)
{
    return std::wstring(count, L'x');
}

} // namespace

TEST(StringxLastError, EveryConstructorKeepsTheCode)
{
    const xstring shortSource(L"abc");
    const xstring longSource(kLong);
    const struct {
        const char* name;
        std::function<void()> construct;
    } cases[] = {
        {"empty", [] { xstring s; }},
        {"pointer and length", [] { xstring s(kLong, 20); }},
        {"NUL-terminated", [] { xstring s(kLong); }},
        {"null pointer", [] { xstring s(static_cast<const wchar_t*>(nullptr)); }},
        {"std::wstring", [] { xstring s{std::wstring(kLong)}; }},
        {"copy of inline", [&] { xstring s(shortSource); }},
        {"copy of heap", [&] { xstring s(longSource); }},
        {"move", [] {
             xstring source(kLong);
             xstring s(std::move(source));
         }},
        {"ANSI", [] { xstring s("narrow text past seven", 0); }},
        {"UTF-8", [] { xstring s("\xC3\xA9t\xC3\xA9 and more text", CP_UTF8); }},
        {"UTF-16LE", [] { xstring s("a\0b\0c\0d\0e\0f\0g\0h\0i\0", 1200, 18); }},
        {"UTF-16BE", [] { xstring s("\0a\0b\0c\0d\0e\0f\0g\0h\0i", 1201, 18); }},
        {"failed conversion", [] { xstring s("", CP_UTF8, 0); }},
    };
    for (const auto& c : cases) {
        ::SetLastError(kMarker);
        c.construct(); // constructs and destroys
        EXPECT_EQ(::GetLastError(), kMarker) << c.name;
    }
}

TEST(StringxLastError, DestructorKeepsTheCodeSetAfterConstruction)
{
    for (const wchar_t* text : {L"short", kLong}) {
        {
            xstring s(text);
            s.narrow();
            s.bstr();
            ::SetLastError(ERROR_FILE_NOT_FOUND);
        }
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << text;
    }
}

TEST(StringxLastError, BufferReleaseKeepsTheCodeOfTheCall)
{
    xstring s(kLong);
    {
        xstring::string_buffer buffer(s);
        buffer.get()[0] = L'A';
        ::SetLastError(ERROR_MORE_DATA); // what the system call left
    }
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
    EXPECT_EQ(s[0], L'A');

    {
        xstring::string_buffer buffer(s);
        buffer.attach_narrow("narrow result past seven characters");
        ::SetLastError(ERROR_ACCESS_DENIED);
    }
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(text_of(s), L"narrow result past seven characters");
}

TEST(StringxCapacity, OnConstruction)
{
    const struct {
        std::size_t length;
        std::size_t capacity;
    } cases[] = {{0, 7}, {1, 7}, {7, 7}, {8, 15}, {15, 15}, {16, 23}, {24, 31}, {31, 31}, {32, 39}, {100, 103}};
    for (const auto& c : cases) {
        std::wstring text = repeated(c.length);
        xstring s(text.c_str(), text.size());
        EXPECT_EQ(s.capacity(), c.capacity) << c.length;
        EXPECT_EQ(text_of(s), text);
        EXPECT_EQ(s.c_str()[c.length], L'\0');
    }
}

TEST(StringxCapacity, GrowsByHalfAtLeast)
{
    const struct {
        std::size_t before; // a full string: length equals capacity
        std::size_t appended;
        std::size_t capacity;
    } cases[] = {
        {7, 1, 15},   // leaving inline storage
        {15, 1, 23},  // 16 | 7
        {31, 1, 46},  // 31 + 31 / 2 beats 32 | 7
        {31, 20, 55}, // 51 | 7 beats 46
    };
    for (const auto& c : cases) {
        std::wstring text = repeated(c.before);
        xstring s(text.c_str(), text.size());
        ASSERT_EQ(s.capacity(), c.before);
        s.append(c.appended, L'y');
        EXPECT_EQ(s.capacity(), c.capacity) << c.before << "+" << c.appended;
        EXPECT_EQ(text_of(s), text + std::wstring(c.appended, L'y'));
    }
}

TEST(StringxCapacity, AssignmentThatDoesNotFitGrowsLikeAppend)
{
    std::wstring full = repeated(31);
    xstring s(full.c_str(), full.size());
    std::wstring longer = repeated(32);
    s.assign(longer.c_str(), longer.size());
    EXPECT_EQ(s.capacity(), 46u);
    EXPECT_EQ(text_of(s), longer);

    s = L"fits"; // reuses the storage
    EXPECT_EQ(s.capacity(), 46u);
    EXPECT_EQ(text_of(s), L"fits");
}

TEST(StringxCapacity, AppendingItselfSurvivesTheReallocation)
{
    xstring s(L"0123456789");
    s.append(s);
    EXPECT_EQ(text_of(s), L"01234567890123456789");
    s += s.c_str() + 15;
    EXPECT_EQ(text_of(s), L"0123456789012345678956789");
}

TEST(StringxCompare, IgnoresCase)
{
    const struct {
        const wchar_t* left;
        const wchar_t* right;
        bool equal;
    } cases[] = {
        {L"Registry", L"REGISTRY", true}, {L"registry", L"Registry", true}, {L"Registry", L"Registr", false},
        {L"Registry", L"Registry ", false}, {L"", L"", true},            {L"File", L"Folder", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(xstring(c.left) == xstring(c.right), c.equal) << c.left << L" vs " << c.right;
        EXPECT_EQ(xstring(c.left) == c.right, c.equal);
    }
}

TEST(StringxFind, IgnoresCaseAndKeepsItsBounds)
{
    const xstring s(L"MACHINE\\Software\\Registry");
    const std::size_t npos = xstring::npos;
    const struct {
        const wchar_t* what;
        std::size_t from;
        std::size_t expected;
    } substrings[] = {
        {L"REGISTRY", 0, 17},  {L"registry", 17, 17}, {L"registry", 18, npos}, {L"software", 0, 8},
        {L"", 5, 5},           {L"", 25, 25},         {L"", 26, npos},         {L"Registry!", 0, npos},
        {L"machine\\s", 0, 0}, {L"yy", 0, npos},
    };
    for (const auto& c : substrings) {
        EXPECT_EQ(s.find(c.what, c.from), c.expected) << c.what << " from " << c.from;
    }
    EXPECT_EQ(s.find(L'r', 0), 14u); // the 'r' of "Software"
    EXPECT_EQ(s.find(L's', 0), 8u);
    EXPECT_EQ(s.find(L'x', 0), npos);
    EXPECT_EQ(s.rfind(L'\\'), 16u);
    EXPECT_EQ(s.rfind(L'm'), 0u);
    EXPECT_EQ(s.rfind(L'\\', 15), 7u);
    EXPECT_EQ(xstring().rfind(L'a'), npos);
}

TEST(StringxNarrow, ConvertsFromEachCodePage)
{
    const struct {
        const char* name;
        const char* bytes;
        UINT codePage;
        unsigned int length;
        const wchar_t* expected;
    } cases[] = {
        {"ANSI", "plain", 0, xstring::count_to_nul, L"plain"},
        {"counted ANSI", "plain text", 0, 5, L"plain"},
        {"1252", "caf\xE9", 1252, xstring::count_to_nul, L"caf\x00E9"},
        {"UTF-8", "\xE2\x82\xAC 5", CP_UTF8, xstring::count_to_nul, L"\x20AC 5"},
        {"UTF-16LE counted", "A\0B\0C\0", 1200, 6, L"ABC"},
        {"UTF-16LE to its NUL", "A\0B\0\0\0C\0", 1200, xstring::count_to_nul, L"AB"},
        {"UTF-16LE odd byte", "A\0B", 1200, 3, L"A"},
        {"UTF-16LE euro", "\xAC\x20", 1200, 2, L"\x20AC"},
        {"UTF-16BE counted", "\0A\0B\0C", 1201, 6, L"ABC"},
        {"UTF-16BE euro", "\x20\xAC", 1201, 2, L"\x20AC"},
    };
    for (const auto& c : cases) {
        xstring constructed(c.bytes, c.codePage, c.length);
        EXPECT_EQ(text_of(constructed), c.expected) << c.name;
        xstring assigned(L"previous text of some length");
        assigned.assign_narrow(c.bytes, c.codePage, c.length);
        EXPECT_EQ(text_of(assigned), c.expected) << c.name;
    }
}

TEST(StringxNarrow, FailedConversionKeepsTheText)
{
    xstring s(L"kept");
    s.assign_narrow("", CP_UTF8, 0); // nothing to convert: no characters produced
    EXPECT_EQ(text_of(s), L"kept");
}

TEST(StringxNarrow, ViewInTheAnsiCodePage)
{
    xstring s(L"C:\\Program Files\\Qx");
    EXPECT_STREQ(s.narrow(), "C:\\Program Files\\Qx");
    s.append(repeated(100).c_str(), 100); // outgrows the first buffer
    EXPECT_EQ(std::string(s.narrow()), "C:\\Program Files\\Qx" + std::string(100, 'x'));
}

TEST(StringxBuffer, TakesTheTextUpToTheFirstNul)
{
    xstring s(L"abcdefghij");
    {
        xstring::string_buffer buffer(s);
        wchar_t* chars = buffer.get();
        chars[0] = L'X';
        chars[3] = L'\0';
    }
    EXPECT_EQ(text_of(s), L"Xbc");
    EXPECT_EQ(s.length(), 3u);
}
