#include "helper64/qxbew/CallerSecurity.h"

#include <vector>

#include "support/sids.h"
#include "support/unique_any.h"

namespace {

// Calls and activations, locally only: what COM asks of a caller of this object.
constexpr DWORD kCallRights = COM_RIGHTS_EXECUTE | COM_RIGHTS_EXECUTE_LOCAL;

HRESULT LastError()
{
    return HRESULT_FROM_WIN32(::GetLastError());
}

// The SID of the account this process runs as, copied out of its token.
HRESULT ProcessUser(std::vector<BYTE>& sid)
{
    HANDLE raw = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) {
        return LastError();
    }
    qx::unique_handle token(raw);
    alignas(TOKEN_USER) BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    if (!::GetTokenInformation(token.get(), TokenUser, buffer, sizeof(buffer), &size)) {
        return LastError();
    }
    PSID user = reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid;
    sid.assign(static_cast<BYTE*>(user), static_cast<BYTE*>(user) + ::GetLengthSid(user));
    return S_OK;
}

} // namespace

HRESULT RestrictCallers(InitializeSecurityCall initialize)
{
    std::vector<BYTE> user;
    HRESULT hr = ProcessUser(user);
    if (FAILED(hr)) {
        return hr;
    }
    qx::unique_sid system = qx::local_system_sid();
    qx::unique_sid administrators = qx::builtin_group_sid(DOMAIN_ALIAS_RID_ADMINS);
    if (!system || !administrators) {
        return LastError();
    }
    const PSID allowed[] = {system.get(), administrators.get(), user.data()};

    DWORD aclSize = sizeof(ACL);
    for (PSID sid : allowed) {
        aclSize += sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + ::GetLengthSid(sid);
    }
    std::vector<BYTE> acl(aclSize);
    if (!::InitializeAcl(reinterpret_cast<ACL*>(acl.data()), aclSize, ACL_REVISION)) {
        return LastError();
    }
    for (PSID sid : allowed) {
        if (!::AddAccessAllowedAce(reinterpret_cast<ACL*>(acl.data()), ACL_REVISION, kCallRights, sid)) {
            return LastError();
        }
    }
    // COM wants an absolute descriptor with an owner and a group.
    SECURITY_DESCRIPTOR descriptor;
    if (!::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !::SetSecurityDescriptorOwner(&descriptor, user.data(), FALSE) ||
        !::SetSecurityDescriptorGroup(&descriptor, user.data(), FALSE) ||
        !::SetSecurityDescriptorDacl(&descriptor, TRUE, reinterpret_cast<ACL*>(acl.data()), FALSE)) {
        return LastError();
    }
    return initialize(&descriptor, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT, RPC_C_IMP_LEVEL_IDENTIFY, nullptr,
                      EOAC_NONE, nullptr);
}
