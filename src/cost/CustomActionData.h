// The text that carries permission items from costing to the deferred action:
// records separated by "*", six fields per record separated by "|", no escaping.
#pragma once

#include <windows.h>

#include <vector>

#include "cost/PermissionsItem.h"
#include "support/stringx.h"

class CQXSecureObject;

extern const _stringx<> RecordSeparator;
extern const _stringx<> FieldSeparator;

enum : DWORD {
    SPLIT_DROP_EMPTY = 0x1,
};

// Appends the pieces of source between separators to pieces. A trailing separator
// adds no empty piece; leading or adjacent ones do unless SPLIT_DROP_EMPTY is set.
void SplitString(const _stringx<>& source, const _stringx<>& separator, DWORD options,
                 std::vector<_stringx<>>& pieces);

// Reads a decimal number the way the text writes it: leading blanks, an optional sign
// (minus negates modulo 2^32), digits up to the first other character; no digits give 0
// and a value beyond 32 bits gives 0xFFFFFFFF.
DWORD ReadDataNumber(const _stringx<>& text);

// Appends the records of a custom action data text to items, logging through logger:
// 0 when every record was read; 259 for an empty text; 87 at the first record of fewer
// than six fields, with the items of the records before it left appended.
DWORD ParseCustomActionData(const _stringx<>& text, std::vector<PermissionsItem>& items, CQXSecureObject& logger);
