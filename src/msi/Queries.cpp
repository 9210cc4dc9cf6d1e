#include "msi/Queries.h"

const wchar_t g_szLockTable[] = L"QXLockPermissions";

const _stringx<> g_strQueryLockTable = FormatText(L"SELECT * FROM `%s`", g_szLockTable);
const _stringx<> g_strQueryFile(L"SELECT * FROM `File` WHERE `File`='%s'");
const _stringx<> g_strQueryRegistry(L"SELECT * FROM `Registry` WHERE `Registry`='%s'");
const _stringx<> g_strQueryCreateFolder(L"SELECT * FROM `CreateFolder` WHERE `Directory_`='%s'");
const _stringx<> g_strQueryServiceInstall(L"SELECT * FROM `ServiceInstall` WHERE `ServiceInstall`='%s'");
const _stringx<> g_strQueryComponent(L"SELECT * FROM `Component` WHERE `Component` = '%s'");
