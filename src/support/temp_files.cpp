#include "support/temp_files.h"

#include <aclapi.h>
#include <rpc.h>

#include "support/files.h"
#include "support/paths.h"
#include "support/sids.h"
#include "support/unique_any.h"

namespace qx {

namespace {

// "<temporary folder>{GUID}\" made with the attributes given; empty on failure.
_stringx<> create_guid_folder(LPSECURITY_ATTRIBUTES attributes)
{
    _stringx<> path = temp_folder();
    path.push_back(L'{');
    path.append(new_guid_string());
    path.push_back(L'}');
    if (!create_directory(path, attributes)) {
        return _stringx<>();
    }
    add_backslash(path);
    return path;
}

} // namespace

_stringx<> temp_folder()
{
    _stringx<> folder;
    folder.resize(MAX_PATH);
    {
        // On failure the buffer keeps its NULs and the folder comes back empty.
        _stringx<>::string_buffer buffer(folder);
        ::GetTempPathW(MAX_PATH, buffer.get());
    }
    return folder;
}

_stringx<> new_guid_string()
{
    UUID uuid{};
    ::UuidCreate(&uuid);
    unique_rpc_string text;
    if (::UuidToStringW(&uuid, text.put()) != RPC_S_OK || !text) {
        return _stringx<>();
    }
    _stringx<> guid(reinterpret_cast<const wchar_t*>(text.get()));
    ::CharUpperBuffW(_stringx<>::string_buffer(guid).get(), static_cast<DWORD>(guid.length()));
    return guid;
}

_stringx<> create_secure_temp_folder()
{
    unique_sid users = builtin_group_sid(DOMAIN_ALIAS_RID_USERS);
    unique_sid administrators = builtin_group_sid(DOMAIN_ALIAS_RID_ADMINS);
    unique_sid system = local_system_sid();
    if (!users || !administrators || !system) {
        return _stringx<>();
    }

    // Users may read and run what is in the folder; only Administrators and
    // LocalSystem may write to it, as the program started from it runs as LocalSystem.
    const struct {
        PSID sid;
        DWORD mask;
        TRUSTEE_TYPE type;
    } grants[] = {
        {users.get(), 0x001200A9, TRUSTEE_IS_WELL_KNOWN_GROUP}, // read, execute, synchronize
        {administrators.get(), 0x001F01FF, TRUSTEE_IS_GROUP},   // full control
        {system.get(), 0x001F01FF, TRUSTEE_IS_USER},
    };
    EXPLICIT_ACCESSW entries[3]{};
    for (std::size_t i = 0; i < 3; ++i) {
        entries[i].grfAccessPermissions = grants[i].mask;
        entries[i].grfAccessMode = GRANT_ACCESS;
        entries[i].grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
        entries[i].Trustee.TrusteeForm = TRUSTEE_IS_SID;
        entries[i].Trustee.TrusteeType = grants[i].type;
        entries[i].Trustee.ptstrName = static_cast<LPWSTR>(grants[i].sid);
    }

    PACL rawAcl = nullptr;
    const DWORD merged = ::SetEntriesInAclW(3, entries, nullptr, &rawAcl);
    if (merged != ERROR_SUCCESS) {
        ::SetLastError(merged); // the caller reports the code
        return _stringx<>();
    }
    unique_local<ACL> acl(rawAcl);

    // Protected: the parent's inheritable entries (under the system's temporary
    // folder, everyone may create files) are not merged into the list.
    unique_local<void> descriptor(::LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH));
    if (!descriptor || !::InitializeSecurityDescriptor(descriptor.get(), SECURITY_DESCRIPTOR_REVISION) ||
        !::SetSecurityDescriptorDacl(descriptor.get(), TRUE, acl.get(), FALSE) ||
        !::SetSecurityDescriptorControl(descriptor.get(), SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
        return _stringx<>();
    }
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.get(), FALSE};

    return create_guid_folder(&attributes);
}

_stringx<> create_temp_folder()
{
    return create_guid_folder(nullptr);
}

} // namespace qx
