#include "msi/Queries.h"

const wchar_t g_szLockTable[] = L"QXLockPermissions";

const _stringx<> g_strQueryLockTable = FormatText(L"SELECT * FROM `%s`", g_szLockTable);
