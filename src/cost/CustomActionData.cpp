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

DWORD ReadDataNumber(const _stringx<>& text)
{
    const wchar_t* p = text.c_str();
    while (*p && std::iswspace(*p)) {
        ++p;
    }
    bool negative = false;
    if (*p == L'+' || *p == L'-') {
        negative = *p == L'-';
        ++p;
    }
    unsigned long long value = 0;
    bool overflow = false;
    for (; *p >= L'0' && *p <= L'9'; ++p) {
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
    std::vector<_stringx<>> records;
    SplitString(text, RecordSeparator, 0, records);
    std::vector<_stringx<>> fields;
    for (const _stringx<>& record : records) {
        fields.clear();
        SplitString(record, FieldSeparator, 0, fields);
        if (fields.size() < kFieldsPerRecord) {
            logger.Log(L"Item contains invalid data");
            return ERROR_INVALID_PARAMETER;
        }
        PermissionsItem item;
        item.m_strObjectName = std::move(fields[0]);
        item.m_kind = LockObjectKindFromTable(fields[1]);
        item.m_objectType = ObjectTypeForKind(item.m_kind);
        item.m_strDomain = std::move(fields[2]);
        item.m_strUser = std::move(fields[3]);
        item.m_dwPermission = ReadDataNumber(fields[4]);
        item.m_dwFlags = ReadDataNumber(fields[5]);
        items.push_back(std::move(item));
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
