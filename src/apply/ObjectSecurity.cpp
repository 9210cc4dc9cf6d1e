#include "apply/ObjectSecurity.h"

#include "apply/ApplyRules.h"

namespace {

// The registry view a key type names, or 0 for the process's own.
REGSAM RegistryViewOf(SE_OBJECT_TYPE type)
{
    if (type == SE_REGISTRY_WOW64_32KEY) {
        return KEY_WOW64_32KEY;
    }
    return type == kRegistryWow64Key64 ? KEY_WOW64_64KEY : 0;
}

// Opens a key named as the named-security calls name it ("MACHINE\Software\...").
DWORD OpenRegistryKey(const _stringx<>& name, REGSAM access, qx::unique_hkey& key)
{
    static const struct {
        const wchar_t* word;
        HKEY root;
    } kRoots[] = {{L"MACHINE", HKEY_LOCAL_MACHINE},
                  {L"USERS", HKEY_USERS},
                  {L"CURRENT_USER", HKEY_CURRENT_USER},
                  {L"CLASSES_ROOT", HKEY_CLASSES_ROOT}};
    const std::size_t slash = name.find(L'\\');
    const _stringx<> word = name.substr(0, slash);
    for (const auto& root : kRoots) {
        if (word.equals(root.word)) {
            const wchar_t* subkey = slash == _stringx<>::npos ? L"" : name.c_str() + slash + 1;
            return static_cast<DWORD>(::RegOpenKeyExW(root.root, subkey, 0, access, key.put()));
        }
    }
    return ERROR_INVALID_PARAMETER;
}

} // namespace

DWORD ReadObjectDacl(CSecurityFunctions& security, const _stringx<>& name, SE_OBJECT_TYPE type, PACL* dacl,
                     qx::unique_local<void>& descriptor)
{
    if (const REGSAM view = RegistryViewOf(type)) {
        qx::unique_hkey key;
        const DWORD result = OpenRegistryKey(name, READ_CONTROL | view, key);
        if (result != ERROR_SUCCESS) {
            return result;
        }
        return security.GetSecurityInfo(key.get(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, dacl,
                                        nullptr, descriptor.put());
    }
    // The named calls take a writable name.
    _stringx<> writable(name);
    _stringx<>::string_buffer buffer(writable);
    return security.GetNamedSecurityInfoW(buffer.get(), type, DACL_SECURITY_INFORMATION, nullptr, nullptr, dacl,
                                          nullptr, descriptor.put());
}

DWORD WriteObjectDacl(CSecurityFunctions& security, const _stringx<>& name, SE_OBJECT_TYPE type,
                      SECURITY_INFORMATION information, PACL dacl)
{
    if (const REGSAM view = RegistryViewOf(type)) {
        qx::unique_hkey key;
        // Reading too: the inherited part of the list is worked out from the key's own.
        const DWORD result = OpenRegistryKey(name, READ_CONTROL | WRITE_DAC | view, key);
        if (result != ERROR_SUCCESS) {
            return result;
        }
        return security.SetSecurityInfo(key.get(), SE_REGISTRY_KEY, information, nullptr, nullptr, dacl, nullptr);
    }
    _stringx<> writable(name);
    _stringx<>::string_buffer buffer(writable);
    return security.SetNamedSecurityInfoW(buffer.get(), type, information, nullptr, nullptr, dacl, nullptr);
}

DWORD OpenIdentifiedFile(const _stringx<>& name, ACCESS_MASK access, qx::unique_file& file, _stringx<>& identity)
{
    file.reset(::CreateFileW(name, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION information = {};
    if (!file || !::GetFileInformationByHandle(file.get(), &information)) {
        return ::GetLastError();
    }
    identity = FormatText(L"%08x:%08x%08x", information.dwVolumeSerialNumber, information.nFileIndexHigh,
                          information.nFileIndexLow);
    return ERROR_SUCCESS;
}
