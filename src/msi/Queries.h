// The lock table's name and the query that reads it.
#pragma once

#include "support/stringx.h"

extern const wchar_t g_szLockTable[];

extern const _stringx<> g_strQueryLockTable;
