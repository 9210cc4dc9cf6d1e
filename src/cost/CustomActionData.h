// The text that carries permission items from costing to the deferred action:
// records separated by "*", six fields per record separated by "|", no escaping.
// The rollback action's data is read by the same rules.
#pragma once

#include <windows.h>

#include <cstddef>
#include <functional>
#include <vector>

#include "cost/PermissionsItem.h"
#include "support/log_sink.h"
#include "support/stringx.h"

// The properties the cost action stores its texts in. The installer hands each to
// the deferred action of the same name as its CustomActionData.
inline constexpr wchar_t kInstallDataProperty[] = L"QXLockPermissionsInstall";
inline constexpr wchar_t kRollbackDataProperty[] = L"QXLockPermissionsRollback";

extern const _stringx<> RecordSeparator;
extern const _stringx<> FieldSeparator;

// One field of a record: the characters [begin, end) of the text.
struct DataField {
    const wchar_t* begin;
    const wchar_t* end;
    std::size_t length() const { return static_cast<std::size_t>(end - begin); }
};

// The most fields of a record that a reader hands over; any further ones are counted only.
constexpr std::size_t kMaxDataFields = 8;

// Takes one record's first fields and its field count; false stops the reading.
using DataRecordReader = std::function<bool(const DataField* fields, std::size_t count)>;

// Hands each record of the text to read, in order. A record separator at the end
// adds no record, an empty record is one empty field, and nothing is escaped.
void ReadDataRecords(const _stringx<>& text, const DataRecordReader& read);

// A number the way the writers write it: leading blanks, an optional sign (minus
// negates modulo 2^32), digits up to the first other character; no digits give 0
// and a value beyond 32 bits gives 0xFFFFFFFF. A NUL ends it, as it ends a C string.
DWORD ReadDataNumber(const DataField& field);

// Appends a record to text, with a record separator when text holds one already.
void AppendDataRecord(_stringx<>& text, const _stringx<>& record);

// Appends one record to text: the object name, then the row's table, domain, user,
// access mask and flags, the numbers as signed 32-bit decimals.
void AddItemToCustomActionData(_stringx<>& text, const _stringx<>& objectName, const _stringx<>& table,
                               const _stringx<>& domain, const _stringx<>& user, DWORD permission, DWORD flags);

// Appends the records of a custom action data text to items: false, after a log
// line, for an empty text. A record of fewer than six fields throws qx::error (87),
// with the items of the records before it left appended.
bool ParseCustomActionData(const _stringx<>& text, std::vector<PermissionsItem>& items, qx::log_sink& log);
