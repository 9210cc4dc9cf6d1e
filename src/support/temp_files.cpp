#include "support/temp_files.h"

#include <aclapi.h>
#include <rpc.h>

#include <climits>

#include "support/files.h"
#include "support/paths.h"
#include "support/sids.h"
#include "support/unique_any.h"

namespace qx {

namespace {

constexpr std::size_t short_guid_length = 8;

_stringx<> guid_folder_name(bool shortName)
{
    _stringx<> guid = new_guid_string();
    if (shortName && guid.length() > short_guid_length) {
        guid.resize(short_guid_length);
    }
    _stringx<> name(L"{");
    name.append(guid);
    name.push_back(L'}');
    return name;
}

// Drops an extension of ".tmp" (in any case) from the file name.
void drop_tmp_extension(_stringx<>& path)
{
    _stringx<> stem = change_extension(path, _stringx<>());
    if (path.length() == stem.length() + 4 && _stringx<>(path.c_str() + stem.length()) == L".tmp") {
        path = stem;
    }
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

_stringx<> create_secure_temp_folder(const _stringx<>& base, bool shortName)
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

    _stringx<> path = base.empty() ? temp_folder() : base;
    path.append(guid_folder_name(shortName));
    if (!create_directory(path, &attributes)) {
        return _stringx<>();
    }
    add_backslash(path);
    return path;
}

_stringx<> unique_temp_name(bool file, const _stringx<>& extension, const _stringx<>& base, bool shortName)
{
    _stringx<> folder = base.empty() ? temp_folder() : base;
    add_backslash(folder);
    create_directory_tree(folder);

    for (unsigned int n = 0; n <= static_cast<unsigned int>(INT_MAX); ++n) {
        _stringx<> candidate;
        if (file) {
            candidate.resize(MAX_PATH);
            UINT made;
            {
                _stringx<>::string_buffer buffer(candidate);
                made = ::GetTempFileNameW(folder.c_str(), L"_qx", n, buffer.get());
            }
            if (made == 0) {
                return _stringx<>(); // the base folder cannot hold files
            }
            if (n == 0) {
                // The system created the file to claim the number; only the name is wanted.
                delete_file(candidate);
            }
        } else {
            candidate = folder;
            candidate.append(guid_folder_name(shortName));
        }

        if (!extension.empty()) {
            candidate = change_extension(candidate, extension);
        } else {
            drop_tmp_extension(candidate);
        }
        if (!file) {
            add_backslash(candidate);
        }
        if (!path_exists(candidate, EXISTS_FILE | EXISTS_DIRECTORY)) {
            if (!file) {
                create_directory_tree(candidate);
            }
            return candidate;
        }
    }
    return _stringx<>();
}

} // namespace qx
