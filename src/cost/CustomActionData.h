// The text that carries permission items from costing to the deferred action:
// records separated by "*", six fields per record separated by "|", no escaping.
#pragma once

#include <windows.h>

#include <vector>

#include "cost/PermissionsItem.h"
#include "support/log_sink.h"
#include "support/stringx.h"

extern const _stringx<> RecordSeparator;
extern const _stringx<> FieldSeparator;

// Appends one record to text: the object name, then the row's table, domain, user,
// access mask and flags, the numbers as signed 32-bit decimals.
void AddItemToCustomActionData(_stringx<>& text, const _stringx<>& objectName, const _stringx<>& table,
                               const _stringx<>& domain, const _stringx<>& user, DWORD permission, DWORD flags);

// Appends the records of a custom action data text to items, logging through log:
// 0 when every record was read; 259 for an empty text; 87 at the first record of fewer
// than six fields, with the items of the records before it left appended.
DWORD ParseCustomActionData(const _stringx<>& text, std::vector<PermissionsItem>& items, qx::log_sink& log);
