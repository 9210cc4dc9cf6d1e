#include "ApplyTestSupport.h"

#include <gtest/gtest.h>

#include <sddl.h>

#include <algorithm>
#include <set>

namespace applytest {

namespace {

const wchar_t kTestKeys[] = L"Software\\QXLockTests";

// The system's own functions: this program's imports of them may go through the tracker.
template <class Function> Function SystemFunction(const char* name)
{
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), name)));
}
const auto g_realLocalAlloc = SystemFunction<decltype(&::LocalAlloc)>("LocalAlloc");
const auto g_realLocalFree = SystemFunction<decltype(&::LocalFree)>("LocalFree");

SE_OBJECT_TYPE TypeOf(TestObject::Kind kind)
{
    return kind == TestObject::Kind::Key ? SE_REGISTRY_KEY : SE_FILE_OBJECT;
}

} // namespace

std::ostream& operator<<(std::ostream& out, const Ace& ace)
{
    return out << "{type " << int(ace.type) << ", flags " << int(ace.flags) << ", mask 0x" << std::hex << ace.mask
               << std::dec << ", " << std::string(ace.sid.begin(), ace.sid.end()) << "}";
}

std::wstring SidText(PSID sid)
{
    if (!sid || !::IsValidSid(sid)) {
        return L"";
    }
    // Built by hand: ConvertSidToStringSidW would allocate behind the tracker's back.
    unsigned long long authority = 0;
    for (BYTE part : ::GetSidIdentifierAuthority(sid)->Value) {
        authority = (authority << 8) | part;
    }
    std::wstring text = L"S-1-" + std::to_wstring(authority);
    for (BYTE i = 0; i < *::GetSidSubAuthorityCount(sid); ++i) {
        text += L"-" + std::to_wstring(*::GetSidSubAuthority(sid, i));
    }
    return text;
}

std::wstring CurrentUserSid()
{
    HANDLE token = nullptr;
    alignas(TOKEN_USER) BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    bool read = ::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token) &&
                ::GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &size);
    if (token) {
        ::CloseHandle(token);
    }
    return read ? SidText(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid) : L"";
}

std::vector<Ace> ReadAces(const ACL* acl)
{
    std::vector<Ace> aces;
    for (DWORD i = 0; acl && i < acl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr; // allowed and denied ACEs share one layout
        if (::GetAce(const_cast<ACL*>(acl), i, reinterpret_cast<void**>(&ace)) &&
            (ace->Header.AceFlags & INHERITED_ACE) == 0) {
            aces.push_back({ace->Header.AceType, ace->Header.AceFlags, ace->Mask, SidText(&ace->SidStart)});
        }
    }
    return aces;
}

std::wstring TemporaryPath(const std::wstring& name)
{
    wchar_t folder[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH, folder);
    return std::wstring(folder) + L"QXLockTests-" + name;
}

TestObject::TestObject(Kind kind, const std::wstring& name) : m_kind(kind)
{
    if (kind == Kind::Key) {
        m_path = std::wstring(kTestKeys) + L"\\" + name;
        m_name = L"CURRENT_USER\\" + m_path;
        HKEY key = nullptr;
        if (::RegCreateKeyExW(HKEY_CURRENT_USER, m_path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr) == ERROR_SUCCESS) {
            ::RegCloseKey(key);
        }
    } else if (kind == Kind::Folder) {
        m_path = m_name = TemporaryPath(name);
        ::CreateDirectoryW(m_path.c_str(), nullptr);
    } else {
        m_path = m_name = TemporaryPath(name) + L".txt";
        ::CloseHandle(::CreateFileW(m_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    }
}

TestObject::~TestObject()
{
    // A test may leave a DACL that shuts us out; as the owner we may still reset it.
    SetNullDacl();
    if (m_kind == Kind::Key) {
        ::RegDeleteTreeW(HKEY_CURRENT_USER, m_path.c_str());
        ::RegDeleteKeyW(HKEY_CURRENT_USER, m_path.c_str());
        ::RegDeleteKeyW(HKEY_CURRENT_USER, kTestKeys);
    } else {
        (m_kind == Kind::Folder ? ::RemoveDirectoryW : ::DeleteFileW)(m_path.c_str());
    }
}

bool TestObject::WriteDacl(const ACL* dacl)
{
    std::wstring name = m_name;
    return ::SetNamedSecurityInfoW(&name[0], TypeOf(m_kind),
                                   DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                   const_cast<ACL*>(dacl), nullptr) == ERROR_SUCCESS;
}

bool TestObject::SetDacl(const std::vector<Ace>& aces)
{
    std::vector<BYTE> acl(1024);
    auto* list = reinterpret_cast<ACL*>(acl.data());
    ::InitializeAcl(list, static_cast<DWORD>(acl.size()), ACL_REVISION);
    for (const Ace& ace : aces) {
        PSID sid = nullptr;
        ::ConvertStringSidToSidW(ace.sid.c_str(), &sid);
        (ace.type == ACCESS_DENIED_ACE_TYPE ? ::AddAccessDeniedAceEx
                                            : ::AddAccessAllowedAceEx)(list, ACL_REVISION, ace.flags, ace.mask, sid);
        g_realLocalFree(sid);
    }
    return WriteDacl(list);
}

std::vector<Ace> TestObject::ReadDacl() const
{
    std::wstring name = m_name;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetNamedSecurityInfoW(&name[0], TypeOf(m_kind), DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                                &descriptor) != ERROR_SUCCESS) {
        ADD_FAILURE() << "no DACL to read";
        return {};
    }
    std::vector<Ace> aces = ReadAces(dacl);
    g_realLocalFree(descriptor);
    std::sort(aces.begin(), aces.end());
    return aces;
}

std::wstring TestObject::DaclText() const
{
    std::wstring name = m_name;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    LPWSTR text = nullptr;
    if (::GetNamedSecurityInfoW(&name[0], TypeOf(m_kind), DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, nullptr,
                                &descriptor) != ERROR_SUCCESS ||
        !::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                                &text, nullptr)) {
        ADD_FAILURE() << "no DACL to read";
    }
    std::wstring result = text ? text : L"";
    g_realLocalFree(text);
    g_realLocalFree(descriptor);
    return result;
}

// ---- LocalMemoryTracker ----

namespace {

std::set<HLOCAL> g_live;
int g_unknownFrees = 0;

// Records a block without disturbing the last error that the code under test may read next.
void Track(HLOCAL memory, bool freed)
{
    DWORD lastError = ::GetLastError();
    if (memory && !freed) {
        g_live.insert(memory);
    } else if (memory && g_live.erase(memory) == 0) {
        ++g_unknownFrees;
    }
    ::SetLastError(lastError);
}

HLOCAL WINAPI CountingLocalAlloc(UINT flags, SIZE_T bytes)
{
    HLOCAL memory = g_realLocalAlloc(flags, bytes);
    Track(memory, false);
    return memory;
}

HLOCAL WINAPI CountingLocalFree(HLOCAL memory)
{
    Track(memory, true);
    return g_realLocalFree(memory);
}

BOOL WINAPI TrackingConvertStringSidToSidW(LPCWSTR text, PSID* sid)
{
    BOOL converted = ::ConvertStringSidToSidW(text, sid);
    Track(converted ? *sid : nullptr, false);
    return converted;
}

DWORD WINAPI TrackingGetNamedSecurityInfoW(LPCWSTR name, SE_OBJECT_TYPE type, SECURITY_INFORMATION information,
                                           PSID* owner, PSID* group, PACL* dacl, PACL* sacl,
                                           PSECURITY_DESCRIPTOR* descriptor)
{
    DWORD result = ::GetNamedSecurityInfoW(name, type, information, owner, group, dacl, sacl, descriptor);
    Track(result == ERROR_SUCCESS && descriptor ? *descriptor : nullptr, false);
    return result;
}

DWORD WINAPI TrackingSetEntriesInAclW(ULONG count, PEXPLICIT_ACCESS_W entries, PACL oldAcl, PACL* newAcl)
{
    DWORD result = ::SetEntriesInAclW(count, entries, oldAcl, newAcl);
    Track(result == ERROR_SUCCESS ? *newAcl : nullptr, false);
    return result;
}

// Points the module's import slots of LocalAlloc and LocalFree at the counters, or back.
void RedirectImports(HMODULE module, bool back)
{
    const ULONG_PTR swaps[][2] = {
        {reinterpret_cast<ULONG_PTR>(g_realLocalAlloc), reinterpret_cast<ULONG_PTR>(&CountingLocalAlloc)},
        {reinterpret_cast<ULONG_PTR>(g_realLocalFree), reinterpret_cast<ULONG_PTR>(&CountingLocalFree)}};
    auto* base = reinterpret_cast<BYTE*>(module);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    auto* descriptor = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
    for (; descriptor->Name != 0; ++descriptor) {
        for (auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + descriptor->FirstThunk); slot->u1.Function;
             ++slot) {
            for (const auto& swap : swaps) {
                if (slot->u1.Function == swap[back]) {
                    DWORD protection = 0;
                    ::VirtualProtect(&slot->u1.Function, sizeof(slot->u1.Function), PAGE_READWRITE, &protection);
                    slot->u1.Function = swap[!back];
                    ::VirtualProtect(&slot->u1.Function, sizeof(slot->u1.Function), protection, &protection);
                }
            }
        }
    }
}

} // namespace

LocalMemoryTracker::LocalMemoryTracker(HMODULE module) : m_module(module ? module : ::GetModuleHandleW(nullptr))
{
    g_live.clear();
    g_unknownFrees = 0;
    RedirectImports(m_module, false);
}

LocalMemoryTracker::~LocalMemoryTracker()
{
    RedirectImports(m_module, true);
}

void LocalMemoryTracker::Install(CSecurityFunctions& object)
{
    object.m_pfnConvertStringSidToSidW = &TrackingConvertStringSidToSidW;
    object.m_pfnGetNamedSecurityInfoW = &TrackingGetNamedSecurityInfoW;
    object.m_pfnSetEntriesInAclW = &TrackingSetEntriesInAclW;
}

std::size_t LocalMemoryTracker::Live()
{
    return g_live.size();
}

int LocalMemoryTracker::UnknownFrees()
{
    return g_unknownFrees;
}

PermissionsItem MakeItem(const std::wstring& objectName, LockObjectKind kind, const std::wstring& domain,
                         const std::wstring& user, DWORD permission, DWORD flags)
{
    PermissionsItem item;
    item.m_strObjectName = objectName.c_str();
    item.m_kind = kind;
    item.m_objectType = ObjectTypeForKind(kind);
    item.m_strDomain = domain.c_str();
    item.m_strUser = user.c_str();
    item.m_dwPermission = permission;
    item.m_dwFlags = flags;
    return item;
}

} // namespace applytest
