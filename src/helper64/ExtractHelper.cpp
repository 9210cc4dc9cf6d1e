#include "helper64/ExtractHelper.h"

#include "entry/SecureObject.h"
#include "entry/module.h"
#include "helper64/ResourceTemplate.h"
#include "support/platform.h"
#include "support/temp_files.h"

_stringx<> ExtractHelperExecutable(CQXSecureObject& logger)
{
    return ExtractHelperExecutable(logger, qx::g_hModule);
}

_stringx<> ExtractHelperExecutable(CQXSecureObject& logger, HMODULE module)
{
    try {
        CResourceTemplate helper(L"QXBEWEXE", L"QXCUSTOM", module);
        // Administrators get a folder that ordinary users can read but not plant files in.
        _stringx<> folder = qx::user_has_admin_rights() ? qx::create_secure_temp_folder(_stringx<>(), false)
                                                        : qx::unique_temp_name(false, _stringx<>(), _stringx<>(), false);
        _stringx<> path;
        bool named = true;
        if (!folder.empty()) {
            wchar_t file[MAX_PATH] = {};
            named = ::GetTempFileNameW(folder.c_str(), L"wac", 0, file) != 0;
            path = file;
        }
        if (named && helper.ExtractToFile(path)) {
            logger.Log(FormatText(L"Extracted QXBEW.exe to '%s'", path.c_str()));
            return path;
        }
    } catch (...) {
        logger.Log(L"Unexpected exception extracting QXBEW.exe from QXLockPermissions.dll");
    }
    logger.Log(L"Error extracting QXBEW.exe from QXLockPermissions.dll");
    return _stringx<>();
}
