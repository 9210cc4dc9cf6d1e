// The lock table's name and the query templates, built when the library is loaded.
// The %s takes a key unquoted.
#pragma once

#include "support/stringx.h"

extern const wchar_t g_szLockTable[];

extern const _stringx<> g_strQueryLockTable;
extern const _stringx<> g_strQueryFile;
extern const _stringx<> g_strQueryRegistry;
extern const _stringx<> g_strQueryCreateFolder;
extern const _stringx<> g_strQueryServiceInstall;
extern const _stringx<> g_strQueryComponent;
