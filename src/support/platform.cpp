#include "support/platform.h"

#include <windows.h>

#include <vector>

#include "support/kernel_lookup.h"
#include "support/sids.h"
#include "support/unique_any.h"

namespace qx {

namespace {

using IsWow64Process_t = BOOL(WINAPI*)(HANDLE, PBOOL);
using Wow64DisableWow64FsRedirection_t = BOOL(WINAPI*)(PVOID*);
using Wow64RevertWow64FsRedirection_t = BOOL(WINAPI*)(PVOID);

// Redirection states saved by switch-offs, most recent last. Used from the entry
// point's thread only, so it is not locked.
std::vector<PVOID>& saved_redirection_states()
{
    static std::vector<PVOID> states;
    return states;
}

unique_handle open_query_token()
{
    HANDLE token = nullptr;
    if (::OpenThreadToken(::GetCurrentThread(), TOKEN_QUERY, FALSE, &token)) {
        return unique_handle(token);
    }
    if (::GetLastError() == ERROR_NO_TOKEN && ::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return unique_handle(token);
    }
    return unique_handle();
}

} // namespace

bool running_on_wow64()
{
    auto isWow64Process = kernel_function<IsWow64Process_t>("IsWow64Process");
    if (!isWow64Process) {
        return false;
    }
    BOOL wow64 = FALSE;
    return isWow64Process(::GetCurrentProcess(), &wow64) && wow64;
}

bool user_has_admin_rights()
{
    return token_has_group(true, true);
}

bool token_has_group(bool administrators, bool denyOnly)
{
    unique_handle token = open_query_token();
    if (!token) {
        return false;
    }

    DWORD size = 0;
    if (::GetTokenInformation(token.get(), TokenGroups, nullptr, 0, &size) ||
        ::GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        return false;
    }
    unique_local<TOKEN_GROUPS> groups(static_cast<TOKEN_GROUPS*>(::LocalAlloc(LPTR, size)));
    if (!groups || !::GetTokenInformation(token.get(), TokenGroups, groups.get(), size, &size)) {
        return false;
    }

    unique_sid wanted = builtin_group_sid(administrators ? DOMAIN_ALIAS_RID_ADMINS : DOMAIN_ALIAS_RID_POWER_USERS);
    if (!wanted) {
        return false;
    }
    for (DWORD i = 0; i < groups->GroupCount; ++i) {
        const SID_AND_ATTRIBUTES& group = groups->Groups[i];
        if (::EqualSid(group.Sid, wanted.get())) {
            return !(denyOnly && (group.Attributes & SE_GROUP_USE_FOR_DENY_ONLY));
        }
    }
    return false;
}

bool set_fs_redirection(bool enable)
{
    if (!running_on_wow64()) {
        return false;
    }
    auto disable = kernel_function<Wow64DisableWow64FsRedirection_t>("Wow64DisableWow64FsRedirection");
    auto revert = kernel_function<Wow64RevertWow64FsRedirection_t>("Wow64RevertWow64FsRedirection");
    if (!disable || !revert) {
        return false;
    }
    std::vector<PVOID>& states = saved_redirection_states();
    if (!enable) {
        // The entry goes on first and is kept even when the call fails, so that
        // every switch-off has the one entry its switch-on takes off.
        states.push_back(nullptr);
        return disable(&states.back()) != FALSE;
    }
    if (states.empty()) {
        return false; // nothing was switched off
    }
    PVOID state = states.back();
    states.pop_back();
    return revert(state) != FALSE;
}

_stringx<> system_directory()
{
    wchar_t folder[MAX_PATH] = {};
    ::GetSystemDirectoryW(folder, MAX_PATH);
    return folder;
}

} // namespace qx
