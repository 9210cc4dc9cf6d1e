// Account name resolution: well-known names, string SIDs, then a lookup by the
// local computer. Every SID handed out lives in LocalAlloc memory.
#include "apply/AccountResolution.h"

#include <cstring>

#include "support/error.h"

namespace {

struct WellKnownAccount {
    const wchar_t* name;
    WELL_KNOWN_SID_TYPE type;
};

// Tried in this order; the first name that matches wins.
const WellKnownAccount kWellKnownAccounts[] = {
    {L"Everyone", WinWorldSid},
    {L"Authenticated Users", WinAuthenticatedUserSid},
    {L"Users", WinBuiltinUsersSid},
    {L"Administrators", WinBuiltinAdministratorsSid},
    {L"Local System", WinLocalSystemSid},
    {L"Local Service", WinLocalServiceSid},
    {L"Network Service", WinNetworkServiceSid},
    {L"Guests", WinBuiltinGuestsSid},
    {L"CREATOR OWNER", WinCreatorOwnerSid},
    {L"INTERACTIVE", WinInteractiveSid},
    {L"Power Users", WinBuiltinPowerUsersSid},
    {L"Remote Desktop Users", WinBuiltinRemoteDesktopUsersSid},
    {L"IUSR", WinIUserSid},
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

// A name of the table: its SID, or null to leave the name to the lookup.
qx::unique_local<void> WellKnownSid(CSecurityFunctions& security, const _stringx<>& name)
{
    const WellKnownAccount* account = FindWellKnownAccount(name);
    if (!account) {
        return {};
    }
    qx::unique_local<void> sid(::LocalAlloc(LMEM_FIXED, kWellKnownSidSize));
    DWORD size = kWellKnownSidSize;
    if (!sid || !security.CreateWellKnownSid(account->type, nullptr, sid.get(), &size)) {
        return {};
    }
    return sid;
}

// The code of a failed lookup: the system's, or 1332 when it left none.
DWORD LookupFailureCode(DWORD error)
{
    return error != ERROR_SUCCESS ? error : kNoSidWithoutError;
}

qx::unique_local<void> ResolveSidForAccountName(CSecurityFunctions& security, qx::log_sink& log, const _stringx<>& name)
{
    log.Log(FormatText(L"ResolveSidForAccountName: looking up account name '%s'", name.c_str()));
    if (name.empty()) {
        throw qx::error(kNoSidWithoutError, _stringx<>()); // nothing was looked up
    }

    qx::unique_local<void> sid(::LocalAlloc(LMEM_FIXED, kLookupSidSize));
    if (!sid) {
        throw qx::error(LookupFailureCode(::GetLastError()), _stringx<>());
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
        return sid;
    }
    const DWORD error = ::GetLastError();
    if (found) {
        throw qx::error(LookupFailureCode(error),
                        FormatText(L"Failed to lookup account name, SID is invalid, last error: 0x%08x", error));
    }
    throw qx::error(LookupFailureCode(error), FormatText(L"Failed to lookup account name, last error: 0x%08x", error));
}

} // namespace

qx::unique_local<void> ResolveItemSid(CSecurityFunctions& security, qx::log_sink& log, const _stringx<>& domain,
                                      const _stringx<>& user)
{
    if (qx::unique_local<void> sid = WellKnownSid(security, user)) {
        return sid;
    }

    if (user.find(L"S-") == 0) {
        qx::unique_local<void> converted;
        if (!security.ConvertStringSidToSidW(user, converted.put())) {
            converted.release(); // nothing was allocated; never free what a failed call left there
        }
        if (converted && security.IsValidSid(converted.get())) {
            return converted;
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
    return ResolveSidForAccountName(security, log, lookupName);
}
