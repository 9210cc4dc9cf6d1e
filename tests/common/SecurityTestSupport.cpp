#include "SecurityTestSupport.h"

#include <gtest/gtest.h>

#include <sddl.h>

#include <algorithm>
#include <ostream>

#include "kernel_stubs.h"
#include "support/unique_any.h"

namespace qxtest {

std::wstring DescriptorText(PSECURITY_DESCRIPTOR descriptor, SECURITY_INFORMATION parts)
{
    qx::unique_local<wchar_t> text;
    return ::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, parts, text.put(),
                                                                  nullptr)
               ? text.get()
               : L"";
}

std::wstring AclText(PACL dacl)
{
    SECURITY_DESCRIPTOR descriptor;
    ::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    ::SetSecurityDescriptorDacl(&descriptor, TRUE, dacl, FALSE);
    // Wine writes a null list as "D:", as it writes an empty one.
    return dacl ? DescriptorText(&descriptor) : L"D:NO_ACCESS_CONTROL";
}

namespace {

std::vector<SecurityWrite> g_writes;
bool g_passOn = true;

DWORD WINAPI RecordingSet(LPWSTR name, SE_OBJECT_TYPE type, SECURITY_INFORMATION information, PSID owner, PSID group,
                          PACL dacl, PACL sacl)
{
    g_writes.push_back({name, type, information, AclText(dacl), scoped_wow64::off() > 0});
    return g_passOn ? ::SetNamedSecurityInfoW(name, type, information, owner, group, dacl, sacl) : ERROR_SUCCESS;
}

DWORD WINAPI RecordingSetByHandle(HANDLE object, SE_OBJECT_TYPE type, SECURITY_INFORMATION information, PSID owner,
                                  PSID group, PACL dacl, PACL sacl)
{
    g_writes.push_back({L"", type, information, AclText(dacl), scoped_wow64::off() > 0});
    return g_passOn ? ::SetSecurityInfo(object, type, information, owner, group, dacl, sacl) : ERROR_SUCCESS;
}

} // namespace

std::wstring DaclText(const std::wstring& name, SE_OBJECT_TYPE type)
{
    qx::unique_local<void> descriptor;
    if (::GetNamedSecurityInfoW(name.c_str(), type, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, nullptr,
                                descriptor.put()) != ERROR_SUCCESS) {
        return L"";
    }
    // The entries alone: Windows shows the list's flags (P protected, AI and AR
    // inherited), Wine keeps none of them.
    std::wstring text = DescriptorText(descriptor.get());
    const std::size_t entries = std::min(text.find(L'('), text.size());
    if (text.compare(0, 2, L"D:") == 0 && text.find_first_not_of(L"PAIR", 2) >= entries) {
        text.erase(2, entries - 2);
    }
    return text;
}

std::wstring CurrentUserSid()
{
    qx::unique_handle token;
    alignas(TOKEN_USER) BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    qx::unique_local<wchar_t> text;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put()) ||
        !::GetTokenInformation(token.get(), TokenUser, buffer, sizeof(buffer), &size) ||
        !::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, text.put())) {
        return std::wstring();
    }
    return text.get();
}

TestKey::TestKey(const std::wstring& name, const wchar_t* dacl, KeyHive hive, const wchar_t* parent)
    : m_root(hive == KeyHive::User ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE),
      m_view(hive == KeyHive::Machine32   ? KEY_WOW64_32KEY
             : hive == KeyHive::Machine64 ? KEY_WOW64_64KEY
                                          : 0),
      m_parent(parent), m_path(m_parent + L"\\" + name),
      m_name((hive == KeyHive::User ? L"CURRENT_USER\\" : L"MACHINE\\") + m_path)
{
    qx::unique_hkey key;
    ::RegCreateKeyExW(m_root, m_path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | m_view, nullptr, key.put(), nullptr);
    EXPECT_TRUE(SetDacl(dacl)) << "the list before could not be set on " << testing::PrintToString(m_name);
}

TestKey::~TestKey()
{
    SetDacl(nullptr); // as the owner we may reset a list that shuts us out
    ::RegDeleteKeyExW(m_root, m_path.c_str(), m_view, 0);
    ::RegDeleteKeyExW(m_root, m_parent.c_str(), m_view, 0);
}

std::wstring TestKey::Dacl() const
{
    qx::unique_hkey key;
    qx::unique_local<void> descriptor;
    return ::RegOpenKeyExW(m_root, m_path.c_str(), 0, READ_CONTROL | m_view, key.put()) == ERROR_SUCCESS &&
                   ::GetSecurityInfo(key.get(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
                                     nullptr, descriptor.put()) == ERROR_SUCCESS
               ? DescriptorText(descriptor.get())
               : L"";
}

bool TestKey::SetDacl(const wchar_t* dacl)
{
    qx::unique_local<void> descriptor;
    PACL list = nullptr;
    BOOL present = FALSE, defaulted = FALSE;
    if (dacl &&
        (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(dacl, SDDL_REVISION_1, descriptor.put(), nullptr) ||
         !::GetSecurityDescriptorDacl(descriptor.get(), &present, &list, &defaulted))) {
        return false;
    }
    qx::unique_hkey key;
    return ::RegOpenKeyExW(m_root, m_path.c_str(), 0, READ_CONTROL | WRITE_DAC | m_view, key.put()) == ERROR_SUCCESS &&
           ::SetSecurityInfo(key.get(), SE_REGISTRY_KEY,
                             DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr, list,
                             nullptr) == ERROR_SUCCESS;
}

std::ostream& operator<<(std::ostream& out, const SecurityWrite& write)
{
    return out << std::string(write.name.begin(), write.name.end()) << " type " << write.type << " info 0x" << std::hex
               << write.information << std::dec << " " << std::string(write.dacl.begin(), write.dacl.end())
               << (write.redirectionOff ? " without redirection" : "");
}

void RecordWrites(CSecurityFunctions& security, bool passOn)
{
    g_writes.clear();
    g_passOn = passOn;
    security.m_pfnSetNamedSecurityInfoW = &RecordingSet;
    security.m_pfnSetSecurityInfo = &RecordingSetByHandle;
}

std::vector<SecurityWrite>& RecordedWrites()
{
    return g_writes;
}

PermissionsItem MakeItem(const std::wstring& name, LockObjectKind kind, const std::wstring& user, DWORD permission,
                         DWORD flags, const std::wstring& domain)
{
    return {name.c_str(), kind, ObjectTypeForKind(kind), domain.c_str(), user.c_str(), permission, flags};
}

} // namespace qxtest
