#include "cost/CustomActionData.h"

#include <cwctype>

#include "support/error.h"

const _stringx<> RecordSeparator(L"*");
const _stringx<> FieldSeparator(L"|");

namespace {

constexpr std::size_t kFieldsPerRecord = 6;
const wchar_t kNoItemsMessage[] = L"No permissions items present. Skipping action...";

} // namespace

DWORD ReadDataNumber(const DataField& field)
{
    const wchar_t* p = field.begin;
    const wchar_t* const end = field.end;
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

void AppendDataRecord(_stringx<>& text, const _stringx<>& record)
{
    if (!text.empty()) {
        text.append(RecordSeparator);
    }
    text.append(record);
}

void AddItemToCustomActionData(_stringx<>& text, const _stringx<>& objectName, const _stringx<>& table,
                               const _stringx<>& domain, const _stringx<>& user, DWORD permission, DWORD flags)
{
    // Numbers travel as signed 32-bit decimals: 0x80000000 is written -2147483648.
    _stringx<> record;
    Format(record, L"%s|%s|%s|%s|%d|%d", objectName.c_str(), table.c_str(), domain.c_str(), user.c_str(),
           static_cast<int>(permission), static_cast<int>(flags));
    AppendDataRecord(text, record);
}

void ReadDataRecords(const _stringx<>& text, const DataRecordReader& read)
{
    // One pass over the text, each character lowered once and compared with both
    // one-character separators as the string's search compares it. The records and
    // fields are those that splitting the text at "*" and each record at "|" gives,
    // without a copy of each record: a last separator adds no empty piece, and an
    // empty record is one empty field.
    const wint_t recordMark = std::towlower(RecordSeparator[0]);
    const wint_t fieldMark = std::towlower(FieldSeparator[0]);
    const wchar_t* const end = text.c_str() + text.length();
    DataField fields[kMaxDataFields];
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
                if (count < kMaxDataFields) {
                    fields[count] = {field, at};
                }
                ++count;
                field = at + 1;
            }
        }
        if (field != at || at == record) {
            if (count < kMaxDataFields) {
                fields[count] = {field, at};
            }
            ++count;
        }
        if (!read(fields, count) || at == end) {
            break;
        }
        record = at + 1; // a text that ends in a record separator has no empty last record
    }
}

bool ParseCustomActionData(const _stringx<>& text, std::vector<PermissionsItem>& items, qx::log_sink& log)
{
    if (text.empty()) {
        log.Log(kNoItemsMessage);
        return false;
    }
    ReadDataRecords(text, [&](const DataField* fields, std::size_t count) {
        if (count < kFieldsPerRecord) {
            throw qx::error(ERROR_INVALID_PARAMETER, L"Item contains invalid data");
        }
        PermissionsItem item;
        item.m_strObjectName.assign(fields[0].begin, fields[0].length());
        item.m_kind = LockObjectKindFromTable(fields[1].begin, fields[1].length());
        item.m_objectType = ObjectTypeForKind(item.m_kind);
        item.m_strDomain.assign(fields[2].begin, fields[2].length());
        item.m_strUser.assign(fields[3].begin, fields[3].length());
        item.m_dwPermission = ReadDataNumber(fields[4]);
        item.m_dwFlags = ReadDataNumber(fields[5]);
        items.push_back(std::move(item));
        return true;
    });
    return true;
}
