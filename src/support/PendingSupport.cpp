// Stand-ins until the support library lands (branch support); removed with it.
// Enough of the platform and temporary-folder services for the helper extraction.
#include <windows.h>
#include <objbase.h>
#include <sddl.h>

#include "support/platform.h"
#include "support/temp_files.h"

namespace qx {

bool user_has_admin_rights()
{
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (!::AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                    &administrators)) {
        return false;
    }
    BOOL member = FALSE;
    bool result = ::CheckTokenMembership(nullptr, administrators, &member) && member;
    ::FreeSid(administrators);
    return result;
}

_stringx<> new_guid_string()
{
    GUID guid = {};
    wchar_t text[64] = {};
    if (FAILED(::CoCreateGuid(&guid)) || !::StringFromGUID2(guid, text, 64)) {
        return _stringx<>();
    }
    return _stringx<>(text + 1, 36); // without the braces
}

namespace {

_stringx<> new_folder(const _stringx<>& base, LPSECURITY_ATTRIBUTES attributes)
{
    wchar_t temp[MAX_PATH] = {};
    if (base.empty() && !::GetTempPathW(MAX_PATH, temp)) {
        return _stringx<>();
    }
    _stringx<> folder = base.empty() ? _stringx<>(temp) : base;
    if (folder[folder.length() - 1] != L'\\') {
        folder += L"\\";
    }
    folder += L"{";
    folder += new_guid_string();
    folder += L"}\\";
    return ::CreateDirectoryW(folder.c_str(), attributes) ? folder : _stringx<>();
}

} // namespace

_stringx<> create_secure_temp_folder(const _stringx<>& base, bool /*shortName*/)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;OICI;GRGX;;;BU)(A;OICI;GA;;;BA)",
                                                                SDDL_REVISION_1, &descriptor, nullptr)) {
        return _stringx<>();
    }
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor, FALSE};
    _stringx<> folder = new_folder(base, &attributes);
    ::LocalFree(descriptor);
    return folder;
}

_stringx<> unique_temp_name(bool file, const _stringx<>& /*extension*/, const _stringx<>& base, bool /*shortName*/)
{
    return file ? _stringx<>() : new_folder(base, nullptr);
}

} // namespace qx
