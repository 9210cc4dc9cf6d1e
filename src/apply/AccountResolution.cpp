// Account name resolution: well-known names, string SIDs, then a lookup by the
// local computer. Every SID handed out lives in LocalAlloc memory.
#include "apply/AccountResolution.h"

#include <cstring>

#include "support/unique_any.h"

namespace {

struct WellKnownAccount {
    const wchar_t* name;
    WELL_KNOWN_SID_TYPE type;
    SID_IDENTIFIER_AUTHORITY authority;
    BYTE subAuthorityCount; // 0: no fallback, the name goes to the lookup
    DWORD subAuthorities[2];
};

// Tried in this order; the first name that matches wins.
const WellKnownAccount kWellKnownAccounts[] = {
    {L"Everyone", WinWorldSid, SECURITY_WORLD_SID_AUTHORITY, 1, {SECURITY_WORLD_RID, 0}},
    {L"Authenticated Users", WinAuthenticatedUserSid, SECURITY_NT_AUTHORITY, 1, {SECURITY_AUTHENTICATED_USER_RID, 0}},
    {L"Users", WinBuiltinUsersSid, SECURITY_NT_AUTHORITY, 2, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS}},
    {L"Administrators",
     WinBuiltinAdministratorsSid,
     SECURITY_NT_AUTHORITY,
     2,
     {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS}},
    {L"Local System", WinLocalSystemSid, SECURITY_NT_AUTHORITY, 1, {SECURITY_LOCAL_SYSTEM_RID, 0}},
    {L"Local Service", WinLocalServiceSid, SECURITY_NT_AUTHORITY, 1, {SECURITY_LOCAL_SERVICE_RID, 0}},
    {L"Network Service", WinNetworkServiceSid, SECURITY_NT_AUTHORITY, 1, {SECURITY_NETWORK_SERVICE_RID, 0}},
    {L"Guests", WinBuiltinGuestsSid, SECURITY_NT_AUTHORITY, 2, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_GUESTS}},
    {L"CREATOR OWNER", WinCreatorOwnerSid, SECURITY_CREATOR_SID_AUTHORITY, 1, {SECURITY_CREATOR_OWNER_RID, 0}},
    {L"INTERACTIVE", WinInteractiveSid, SECURITY_NT_AUTHORITY, 1, {SECURITY_INTERACTIVE_RID, 0}},
    {L"Power Users",
     WinBuiltinPowerUsersSid,
     SECURITY_NT_AUTHORITY,
     2,
     {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_POWER_USERS}},
    {L"Remote Desktop Users",
     WinBuiltinRemoteDesktopUsersSid,
     SECURITY_NT_AUTHORITY,
     2,
     {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_REMOTE_DESKTOP_USERS}},
    // Older systems cannot build this one; the name lookup still knows the account there.
    {L"IUSR", WinIUserSid, SECURITY_NT_AUTHORITY, 0, {0, 0}},
};

// Room for any SID; the lookup buffer is larger than needed, as it always was.
constexpr DWORD kWellKnownSidSize = SECURITY_MAX_SID_SIZE;
constexpr DWORD kLookupSidSize = 260;
constexpr DWORD kLookupDomainLength = 260;

// When no SID came out and the system left no error code (an empty name, or a
// lookup that "succeeded" with an invalid SID), the item still has to fail:
// "no mapping between account names and security IDs" says what happened.
constexpr DWORD kNoSidWithoutError = ERROR_NONE_MAPPED;

const WellKnownAccount* FindWellKnownAccount(const _stringx<>& name)
{
    for (const WellKnownAccount& account : kWellKnownAccounts) {
        if (name.equals(account.name)) {
            return &account;
        }
    }
    return nullptr;
}

bool LookupWellKnownSid(CSecurityFunctions& security, qx::log_sink& log, const _stringx<>& name, PSID* sid)
{
    const WellKnownAccount* account = FindWellKnownAccount(name);
    if (!account) {
        return false;
    }
    qx::unique_local<void> buffer(::LocalAlloc(LMEM_FIXED, kWellKnownSidSize));
    if (!buffer) {
        return false;
    }

    DWORD size = kWellKnownSidSize;
    if (security.CreateWellKnownSid(account->type, nullptr, buffer.get(), &size)) {
        *sid = buffer.release();
        return true;
    }
    if (account->subAuthorityCount == 0) {
        return false;
    }

    SID_IDENTIFIER_AUTHORITY authority = account->authority;
    PSID temporary = nullptr;
    if (!security.AllocateAndInitializeSid(&authority, account->subAuthorityCount, account->subAuthorities[0],
                                           account->subAuthorities[1], 0, 0, 0, 0, 0, 0, &temporary) ||
        !temporary) {
        log.Log(FormatText(L"Failed to lookup wellknown account, last error: 0x%x", ::GetLastError()));
        return false;
    }
    BOOL copied = security.CopySid(kWellKnownSidSize, buffer.get(), temporary);
    security.FreeSid(temporary);
    if (!copied) {
        return false;
    }
    *sid = buffer.release();
    return true;
}

PSID ResolveSidForAccountName(CSecurityFunctions& security, qx::log_sink& log, const _stringx<>& name)
{
    log.Log(FormatText(L"ResolveSidForAccountName: looking up account name '%s'", name.c_str()));
    if (name.empty()) {
        // Nothing was looked up: the code the log call may have left must not stand for it.
        ::SetLastError(ERROR_SUCCESS);
        return nullptr;
    }

    qx::unique_local<void> sid(::LocalAlloc(LMEM_FIXED, kLookupSidSize));
    if (!sid) {
        return nullptr;
    }
    std::memset(sid.get(), 0, kLookupSidSize);

    _stringx<> domain;
    domain.resize(kLookupDomainLength);
    DWORD sidSize = kLookupSidSize;
    DWORD domainSize = kLookupDomainLength;
    SID_NAME_USE use = SidTypeUnknown;
    BOOL found;
    {
        _stringx<>::string_buffer domainBuffer(domain);
        found = security.LookupAccountNameW(nullptr, name, sid.get(), &sidSize, domainBuffer, &domainSize, &use);
    }
    if (found && security.IsValidSid(sid.get())) {
        return sid.release();
    }

    // The caller reads the lookup's error code after we return; the log goes
    // through the installer, which is free to change it.
    DWORD error = ::GetLastError();
    if (found) {
        log.Log(FormatText(L"Failed to lookup account name, SID is invalid, last error: 0x%08x", error));
    } else {
        log.Log(FormatText(L"Failed to lookup account name, last error: 0x%08x", error));
    }
    sid.reset();
    ::SetLastError(error);
    return nullptr;
}

} // namespace

DWORD ResolveItemSid(CSecurityFunctions& security, qx::log_sink& log, const _stringx<>& domain, const _stringx<>& user,
                     PSID* sid)
{
    if (LookupWellKnownSid(security, log, user, sid)) {
        return ERROR_SUCCESS;
    }

    if (user.find(L"S-") == 0) {
        qx::unique_local<void> converted;
        if (!security.ConvertStringSidToSidW(user, converted.put())) {
            converted.release(); // nothing was allocated; never free what a failed call left there
        }
        if (converted && security.IsValidSid(converted.get())) {
            *sid = converted.release();
            return ERROR_SUCCESS;
        }
    }

    _stringx<> lookupName;
    if (domain.empty()) {
        lookupName = user;
    } else {
        lookupName = domain;
        if (!user.empty()) {
            if (lookupName[lookupName.length() - 1] != L'\\') {
                lookupName += L'\\';
            }
            _stringx<>::size_type skip = user.c_str()[0] == L'\\' ? 1 : 0;
            lookupName.append(user.c_str() + skip, user.length() - skip);
        }
    }

    *sid = ResolveSidForAccountName(security, log, lookupName);
    if (*sid) {
        return ERROR_SUCCESS;
    }
    DWORD error = ::GetLastError();
    return error != ERROR_SUCCESS ? error : kNoSidWithoutError;
}
