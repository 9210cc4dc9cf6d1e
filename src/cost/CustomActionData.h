// The text that carries permission items from costing to the deferred action:
// records separated by "*", six fields per record separated by "|", no escaping.
#pragma once

#include <windows.h>

#include <vector>

#include "support/stringx.h"

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
