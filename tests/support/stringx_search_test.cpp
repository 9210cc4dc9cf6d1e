// The string search looks for the first character before it compares the whole
// text; it must still find exactly what a comparison at every position finds.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "support/stringx.h"

namespace {

// The search by its definition: the first position from which the text compares
// equal without regard to case.
std::size_t FindEverywhere(const std::wstring& source, const std::wstring& text, std::size_t position)
{
    if (position > source.size() || text.size() > source.size() - position) {
        return _stringx<>::npos;
    }
    for (std::size_t i = position; i + text.size() <= source.size(); ++i) {
        if (text.empty() || _wcsnicmp(source.c_str() + i, text.c_str(), text.size()) == 0) {
            return i;
        }
    }
    return _stringx<>::npos;
}

std::wstring Random(std::mt19937& random, std::size_t maxLength)
{
    // Few letters in both cases, a separator, a NUL and a letter that is not A to Z:
    // many near misses and many candidates for the first character.
    static const wchar_t alphabet[] = {L'a', L'A', L'b', L'B', L'*', L'\0', L'\x00e9', L'\x00c9'};
    std::wstring text(std::uniform_int_distribution<std::size_t>(0, maxLength)(random), L' ');
    for (wchar_t& c : text) {
        c = alphabet[std::uniform_int_distribution<int>(0, 7)(random)];
    }
    return text;
}

TEST(StringxSearch, FindsWhatAComparisonAtEveryPositionFinds)
{
    std::mt19937 random(7);
    for (int i = 0; i < 50000; ++i) {
        const std::wstring source = Random(random, 14);
        const std::wstring text = Random(random, 4);
        const std::size_t position = std::uniform_int_distribution<std::size_t>(0, source.size() + 1)(random);
        const _stringx<> haystack(source.c_str(), source.size());
        EXPECT_EQ(haystack.find(_stringx<>(text.c_str(), text.size()), position),
                  FindEverywhere(source, text, position))
            << "case " << i;
        if (text.size() == 1) {
            EXPECT_EQ(haystack.find(text[0], position),
                      position < source.size() ? FindEverywhere(source, text, position) : _stringx<>::npos)
                << "case " << i;
        }
    }
}

} // namespace
