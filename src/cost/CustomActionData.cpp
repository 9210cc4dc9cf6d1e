#include "cost/CustomActionData.h"

#include <cwctype>

#include "entry/LockPermissionsManager.h"
#include "helper64/ExtractHelper.h"
#include "support/platform.h"

const _stringx<> RecordSeparator(L"*");
const _stringx<> FieldSeparator(L"|");

namespace {

constexpr std::size_t kFieldsPerRecord = 6;
const wchar_t kNoItemsMessage[] = L"No permissions items present. Skipping action...";

} // namespace

void SplitString(const _stringx<>& source, const _stringx<>& separator, DWORD options,
                 std::vector<_stringx<>>& pieces)
{
    const bool dropEmpty = (options & SPLIT_DROP_EMPTY) != 0;
    std::size_t start = 0;
    for (std::size_t hit = source.find(separator, start); hit != _stringx<>::npos;
         hit = source.find(separator, start)) {
        if (!dropEmpty || hit > start) {
            pieces.emplace_back(source.c_str() + start, hit - start);
        }
        start = hit + separator.length();
    }
    if (start < source.length()) {
        pieces.emplace_back(source.c_str() + start, source.length() - start);
    } else if (source.empty() && !dropEmpty) {
        pieces.emplace_back();
    }
}

namespace {

// The number in [p, end) by the rules of ReadDataNumber; a NUL ends it, as it ends
// a C string.
DWORD ReadNumber(const wchar_t* p, const wchar_t* end)
{
    while (p != end && *p && std::iswspace(*p)) {
        ++p;
    }
    bool negative = false;
    if (p != end && (*p == L'+' || *p == L'-')) {
        negative = *p == L'-';
        ++p;
    }
    unsigned long long value = 0;
    bool overflow = false;
    for (; p != end && *p >= L'0' && *p <= L'9'; ++p) {
        value = value * 10 + static_cast<unsigned long long>(*p - L'0');
        if (value > 0xFFFFFFFFull) {
            overflow = true;
            value = 0xFFFFFFFFull; // keeps the accumulator bounded on long digit runs
        }
    }
    if (overflow) {
        return 0xFFFFFFFFu;
    }
    DWORD result = static_cast<DWORD>(value);
    return negative ? static_cast<DWORD>(0u - result) : result;
}

struct Field {
    const wchar_t* begin;
    const wchar_t* end;
    std::size_t length() const { return static_cast<std::size_t>(end - begin); }
};

} // namespace

DWORD ReadDataNumber(const _stringx<>& text)
{
    return ReadNumber(text.c_str(), text.c_str() + text.length());
}

void CQxLockPermissionsManager::AddItemToCustomActionData(const _stringx<>& objectName, const _stringx<>& table,
                                                          const _stringx<>& domain, const _stringx<>& user,
                                                          DWORD permission, DWORD flags)
{
    // Numbers travel as signed 32-bit decimals: 0x80000000 is written -2147483648.
    _stringx<> record;
    Format(record, L"%s|%s|%s|%s|%d|%d", objectName.c_str(), table.c_str(), domain.c_str(), user.c_str(),
           static_cast<int>(permission), static_cast<int>(flags));
    if (!m_strCustomActionData.empty()) {
        m_strCustomActionData.append(RecordSeparator);
    }
    m_strCustomActionData.append(record);
}

DWORD ParseCustomActionData(const _stringx<>& text, std::vector<PermissionsItem>& items, CQXSecureObject& logger)
{
    if (text.empty()) {
        logger.Log(kNoItemsMessage);
        return ERROR_NO_MORE_ITEMS;
    }
    // One pass over the text, each character lowered once and compared with both
    // one-character separators as the string's search compares it. The records and
    // fields are those that splitting the text at "*" and each record at "|" with
    // SplitString gives, without a copy of each record: a last separator adds no
    // empty piece, and an empty record is one empty field.
    const wint_t recordMark = std::towlower(RecordSeparator[0]);
    const wint_t fieldMark = std::towlower(FieldSeparator[0]);
    const wchar_t* const end = text.c_str() + text.length();
    Field fields[kFieldsPerRecord];
    for (const wchar_t* record = text.c_str(); record != end;) {
        std::size_t count = 0;
        const wchar_t* field = record;
        const wchar_t* at = record;
        for (; at != end; ++at) {
            const wint_t lowered = std::towlower(*at);
            if (lowered == recordMark) {
                break;
            }
            if (lowered == fieldMark) {
                if (count < kFieldsPerRecord) {
                    fields[count] = {field, at};
                }
                ++count;
                field = at + 1;
            }
        }
        if (field != at || at == record) {
            if (count < kFieldsPerRecord) {
                fields[count] = {field, at};
            }
            ++count;
        }
        if (count < kFieldsPerRecord) {
            logger.Log(L"Item contains invalid data");
            return ERROR_INVALID_PARAMETER;
        }
        PermissionsItem item;
        item.m_strObjectName.assign(fields[0].begin, fields[0].length());
        item.m_kind = LockObjectKindFromTable(fields[1].begin, fields[1].length());
        item.m_objectType = ObjectTypeForKind(item.m_kind);
        item.m_strDomain.assign(fields[2].begin, fields[2].length());
        item.m_strUser.assign(fields[3].begin, fields[3].length());
        item.m_dwPermission = ReadNumber(fields[4].begin, fields[4].end);
        item.m_dwFlags = ReadNumber(fields[5].begin, fields[5].end);
        items.push_back(std::move(item));
        if (at == end) {
            break;
        }
        record = at + 1; // a text that ends in a record separator has no empty last record
    }
    return ERROR_SUCCESS;
}

DWORD CQxLockPermissionsManager::GetItemsFromCustomActionData()
{
    m_strCustomActionData = GetProperty(L"CustomActionData");
    if (m_strCustomActionData.empty()) {
        Log(kNoItemsMessage);
        return ERROR_NO_MORE_ITEMS;
    }

    wchar_t systemDirectory[MAX_PATH] = {};
    ::GetSystemDirectoryW(systemDirectory, MAX_PATH);
    m_strSystemDirectory = systemDirectory;

    // Only a 32-bit library on 64-bit Windows needs the helper for the native registry view.
    if (qx::running_on_wow64()) {
        m_strHelperPath = ExtractHelperExecutable(*this);
    }

    return ParseCustomActionData(m_strCustomActionData, m_finalPermissionsItems, *this);
}
