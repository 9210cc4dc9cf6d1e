#include "helper64/ExtractHelper.h"

#include "helper64/ResourceTemplate.h"
#include "support/files.h"
#include "support/platform.h"
#include "support/temp_files.h"

namespace {

const int kHelperDeleteAttempts = 5;
const DWORD kHelperDeleteWaitMs = 500;

// The folder, with its trailing backslash, is the temporary folder (or there is none to compare with).
bool IsTemporaryFolder(const _stringx<>& folder)
{
    const _stringx<> temp = qx::temp_folder();
    return temp.empty() || folder.equals(temp);
}

} // namespace

_stringx<> ExtractHelperExecutable(qx::log_sink& log, HMODULE module)
{
    try {
        CResourceTemplate helper(L"QXBEWEXE", L"QXCUSTOM", module);
        // Administrators get a folder that ordinary users can read but not plant files in.
        _stringx<> folder = qx::user_has_admin_rights() ? qx::create_secure_temp_folder() : qx::create_temp_folder();
        if (folder.empty()) {
            // Never the shared temporary folder instead: anyone may put files beside
            // a program there, and it would be started as LocalSystem.
            log.Log(FormatText(L"Failed to create a secure folder for QXBEW.exe, error 0x%08x", ::GetLastError()));
            return _stringx<>();
        }
        wchar_t file[MAX_PATH] = {};
        const bool named = ::GetTempFileNameW(folder.c_str(), L"wac", 0, file) != 0;
        _stringx<> path(file);
        if (named && helper.ExtractToFile(path)) {
            log.Log(FormatText(L"Extracted QXBEW.exe to '%s'", path.c_str()));
            return path;
        }
    } catch (...) {
        log.Log(L"Unexpected exception extracting QXBEW.exe from QXLockPermissions.dll");
    }
    log.Log(L"Error extracting QXBEW.exe from QXLockPermissions.dll");
    return _stringx<>();
}

void RemoveHelperExecutable(const _stringx<>& path) noexcept
{
    try {
        // The helper process may still hold its image open for a moment after it ends:
        // a failed attempt waits before the next one.
        bool deleted = qx::delete_file(path);
        for (int attempt = 1; attempt < kHelperDeleteAttempts && !deleted; ++attempt) {
            ::Sleep(kHelperDeleteWaitMs);
            deleted = qx::delete_file(path);
        }
        if (!deleted) {
            return;
        }
        std::size_t slash = path.rfind(L'\\');
        std::size_t forward = path.rfind(L'/');
        if (forward != _stringx<>::npos && (slash == _stringx<>::npos || forward > slash)) {
            slash = forward;
        }
        // The helper's own folder, never the temporary folder itself, even were the
        // file found directly in it.
        if (slash != _stringx<>::npos && !IsTemporaryFolder(path.substr(0, slash + 1))) {
            qx::remove_directory(path.substr(0, slash));
        }
    } catch (...) {
        // Clean-up failures do not change the action's result.
    }
}
