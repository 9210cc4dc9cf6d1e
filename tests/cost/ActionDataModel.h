// A second reading of the custom action data text, written with nothing but
// std::wstring, and generators of texts that attack the reader. The reader's
// results are compared with the model's on every generated text: a reader that
// read past its text, dropped a character or misread a number would differ.
// Shared by the cost group (the parser alone) and the installer group (through
// a session).
#pragma once

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <random>
#include <string>
#include <vector>

#include "cost/PermissionsItem.h"

namespace datamodel {

const wchar_t kNoItemsLine[] = L"No permissions items present. Skipping action...";
const wchar_t kInvalidLine[] = L"Item contains invalid data";

struct Item {
    std::wstring object;
    LockObjectKind kind = LockObjectKind::Unknown;
    SE_OBJECT_TYPE type = SE_UNKNOWN_OBJECT_TYPE;
    std::wstring domain, user;
    DWORD permission = 0;
    DWORD flags = 0;
    bool operator==(const Item& other) const
    {
        return object == other.object && kind == other.kind && type == other.type && domain == other.domain &&
               user == other.user && permission == other.permission && flags == other.flags;
    }
};

struct Result {
    DWORD status = 0;
    std::vector<Item> items;
    std::vector<std::wstring> lines;
    bool operator==(const Result& other) const
    {
        return status == other.status && items == other.items && lines == other.lines;
    }
};

// Pieces between separators: one more than there are separators, except that a
// last empty piece is left out unless it is the whole text.
inline std::vector<std::wstring> Pieces(const std::wstring& text, wchar_t separator)
{
    std::vector<std::wstring> pieces(1);
    for (wchar_t c : text) {
        if (c == separator) {
            pieces.emplace_back();
        } else {
            pieces.back() += c;
        }
    }
    if (pieces.size() > 1 && pieces.back().empty()) {
        pieces.pop_back();
    }
    return pieces;
}

// Blanks, an optional sign, then the digits up to the first other character (a NUL
// ends the text as it ends a C string); more than 32 bits give all ones, a minus
// sign negates modulo 2^32.
inline DWORD Number(const std::wstring& field)
{
    std::size_t at = 0;
    while (at < field.size() && field[at] != L'\0' && std::iswspace(field[at])) {
        ++at;
    }
    bool negative = false;
    if (at < field.size() && (field[at] == L'+' || field[at] == L'-')) {
        negative = field[at] == L'-';
        ++at;
    }
    std::wstring digits;
    for (; at < field.size() && field[at] >= L'0' && field[at] <= L'9'; ++at) {
        if (!digits.empty() || field[at] != L'0') {
            digits += field[at];
        }
    }
    if (digits.size() > 10 || (digits.size() == 10 && digits > L"4294967295")) {
        return 0xFFFFFFFFu;
    }
    DWORD value = digits.empty() ? 0 : static_cast<DWORD>(std::stoull(digits));
    return negative ? 0u - value : value;
}

// The kind a table word names: the whole word, letters compared without case.
inline LockObjectKind Kind(const std::wstring& table)
{
    std::wstring lower;
    for (wchar_t c : table) {
        lower += (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
    }
    if (lower == L"createfolder") {
        return LockObjectKind::CreateFolder;
    }
    if (lower == L"file") {
        return LockObjectKind::File;
    }
    if (lower == L"registry") {
        return LockObjectKind::Registry;
    }
    return LockObjectKind::Unknown;
}

inline SE_OBJECT_TYPE Type(LockObjectKind kind)
{
    switch (kind) {
    case LockObjectKind::File:
    case LockObjectKind::CreateFolder:
        return SE_FILE_OBJECT;
    case LockObjectKind::Registry:
        return SE_REGISTRY_KEY;
    default:
        return SE_UNKNOWN_OBJECT_TYPE;
    }
}

inline Result Read(const std::wstring& text)
{
    Result result;
    if (text.empty()) {
        result.status = ERROR_NO_MORE_ITEMS;
        result.lines.push_back(kNoItemsLine);
        return result;
    }
    for (const std::wstring& record : Pieces(text, L'*')) {
        std::vector<std::wstring> fields = Pieces(record, L'|');
        if (fields.size() < 6) {
            result.status = ERROR_INVALID_PARAMETER;
            result.lines.push_back(kInvalidLine);
            return result;
        }
        LockObjectKind kind = Kind(fields[1]);
        result.items.push_back(
            {fields[0], kind, Type(kind), fields[2], fields[3], Number(fields[4]), Number(fields[5])});
    }
    return result;
}

// Texts that attack the reader, one kind at a time.
class Generator {
public:
    explicit Generator(unsigned seed) : m_random(seed) { }

    // withNul false leaves out the NUL character, which no installer property holds.
    std::wstring Next(bool withNul = true)
    {
        switch (Below(6)) {
        case 0:
            return RandomBytes(withNul);
        case 1:
            return OnlySeparators();
        case 2:
            return Records(withNul, false);
        case 3:
            return Records(withNul, true);
        case 4:
            return NumbersOnly();
        default:
            return Mixed(withNul);
        }
    }

    unsigned Below(unsigned bound) { return std::uniform_int_distribution<unsigned>(0, bound - 1)(m_random); }

private:
    wchar_t AnyUnit(bool withNul)
    {
        for (;;) {
            auto unit = static_cast<wchar_t>(Below(0x10000));
            if (withNul || unit != L'\0') {
                return unit;
            }
        }
    }

    // Random bytes taken two at a time as UTF-16: lone surrogates, NULs, anything.
    std::wstring RandomBytes(bool withNul)
    {
        std::wstring text;
        for (unsigned n = Below(80); n > 0; --n) {
            text += AnyUnit(withNul);
        }
        return text;
    }

    std::wstring OnlySeparators()
    {
        std::wstring text;
        for (unsigned n = Below(40); n > 0; --n) {
            text += Below(2) ? L'*' : L'|';
        }
        return text;
    }

    // A number field as a writer would never write it.
    std::wstring WildNumber()
    {
        static const wchar_t* const fixed[] = {
            L"",
            L"+",
            L"-",
            L"--1",
            L"+-1",
            L"-+1",
            L"0",
            L"-0",
            L"4294967295",
            L"4294967296",
            L"-4294967295",
            L"-4294967296",
            L"2147483647",
            L"2147483648",
            L"-2147483648",
            L"-2147483649",
            L"18446744073709551615",
            L"18446744073709551616",
            L"99999999999999999999999999999999",
            L"00000000000000000000004294967295",
            L"1e5",
            L"0x10",
            L" \t\r\n\v\f7",
            L"\x3000"
            L"12",
            L"\x00a0"
            L"12",
            L"12 34",
            L"\x0661\x0662",
            L"\xff11\xff12",
        };
        unsigned pick = Below(3);
        if (pick == 0) {
            return fixed[Below(sizeof fixed / sizeof fixed[0])];
        }
        std::wstring text;
        for (unsigned n = Below(3); n > 0; --n) {
            text += L" \t"[Below(2)];
        }
        if (Below(2)) {
            text += L"+-"[Below(2)];
        }
        for (unsigned n = Below(pick == 1 ? 12 : 30); n > 0; --n) {
            text += static_cast<wchar_t>(L'0' + Below(10));
        }
        if (Below(4) == 0) {
            text += L"x9";
        }
        return text;
    }

    std::wstring TableWord()
    {
        static const wchar_t* const words[] = {L"File", L"CreateFolder", L"Registry", L"Files", L"Reg", L""};
        std::wstring word = words[Below(6)];
        for (wchar_t& c : word) {
            if (Below(2)) {
                c = static_cast<wchar_t>(std::towupper(c));
            } else {
                c = static_cast<wchar_t>(std::towlower(c));
            }
        }
        return word;
    }

    std::wstring Text(bool withNul)
    {
        static const wchar_t alphabet[] = L"aZ09 \\:.-_%$[]{}'\"\x00e9\x4e2d\xd83d\xde00";
        std::wstring text;
        for (unsigned n = Below(24); n > 0; --n) {
            unsigned pick = Below(20);
            if (pick == 0) {
                text += AnyUnit(withNul);
            } else if (pick == 1 && withNul) {
                text += L'\0';
            } else {
                text += alphabet[Below(sizeof alphabet / sizeof alphabet[0] - 1)];
            }
        }
        return text;
    }

    std::wstring Field(bool withNul, unsigned index)
    {
        switch (index) {
        case 1:
            return TableWord();
        case 4:
        case 5:
            return WildNumber();
        default:
            return Text(withNul);
        }
    }

    // Records of 6 fields, some of fewer or more, with empty records and separators
    // doubled or left trailing now and then. Broken ones only when asked for.
    std::wstring Records(bool withNul, bool broken)
    {
        std::wstring text;
        for (unsigned records = 1 + Below(8); records > 0; --records) {
            unsigned fields = broken && Below(3) == 0 ? Below(10) : 6;
            for (unsigned i = 0; i < fields; ++i) {
                text += Field(withNul, i);
                if (i + 1 < fields) {
                    text += L'|';
                }
            }
            if (broken && Below(6) == 0) {
                text += L'|';
            }
            if (records > 1) {
                text += broken && Below(8) == 0 ? L"**" : L"*";
            }
        }
        if (Below(6) == 0) {
            text += L'*';
        }
        return text;
    }

    std::wstring NumbersOnly()
    {
        std::wstring text;
        for (unsigned records = 1 + Below(4); records > 0; --records) {
            text += L"C:\\x|File||Everyone|" + WildNumber() + L"|" + WildNumber();
            if (records > 1) {
                text += L'*';
            }
        }
        return text;
    }

    // Well-formed records with random units spliced in at random places.
    std::wstring Mixed(bool withNul)
    {
        std::wstring text = Records(withNul, false);
        for (unsigned n = 1 + Below(4); n > 0; --n) {
            text.insert(text.begin() + Below(static_cast<unsigned>(text.size()) + 1), AnyUnit(withNul));
        }
        return text;
    }

    std::mt19937 m_random;
};

// The text with everything outside printable ASCII as \uXXXX, for failure messages.
inline std::string Escaped(const std::wstring& text, std::size_t limit = 300)
{
    std::string out;
    for (std::size_t i = 0; i < text.size() && i < limit; ++i) {
        wchar_t c = text[i];
        if (c >= 0x20 && c < 0x7F && c != L'\\') {
            out += static_cast<char>(c);
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
            out += escape;
        }
    }
    if (text.size() > limit) {
        out += "... (" + std::to_string(text.size()) + " units)";
    }
    return out;
}

// A count or seed from the environment, or the fallback.
inline unsigned FromEnvironment(const wchar_t* name, unsigned fallback)
{
    wchar_t value[32] = {};
    DWORD length = ::GetEnvironmentVariableW(name, value, 32);
    if (length == 0 || length >= 32) {
        return fallback;
    }
    return static_cast<unsigned>(std::wcstoul(value, nullptr, 10));
}

} // namespace datamodel
