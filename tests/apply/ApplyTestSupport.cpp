#include "apply/ApplyTestSupport.h"

#include <sddl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>
#include <tuple>

namespace applytest {

// ---- TestSecureObject ----

void TestSecureObject::Log(const _stringx<>& message)
{
    lines.push_back(message.str());
    if (clobberLastError) {
        ::SetLastError(ERROR_INVALID_FUNCTION);
    }
}

HRESULT TestSecureObject::CreateBitUtilsHelper(IQXBEWUtils** helper)
{
    return helperFactory ? helperFactory(helper) : E_NOTIMPL;
}

// ---- FakeHelper ----

HRESULT FakeHelper::QueryInterface(REFIID iid, void** object)
{
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IQXBEWUtils) {
        *object = this;
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

HRESULT FakeHelper::SetObjectPermissions(BSTR objectNameIn, BSTR domainIn, BSTR userIn, ULONG objectTypeIn,
                                         ULONG permissionIn, ULONG flagsIn, ULONG* result)
{
    ++calls;
    objectName = objectNameIn ? objectNameIn : L"";
    domain = domainIn ? domainIn : L"";
    user = userIn ? userIn : L"";
    objectType = objectTypeIn;
    permission = permissionIn;
    flags = flagsIn;
    if (writesResult) {
        *result = resultValue;
    }
    return callResult;
}

// ---- ACEs and SIDs ----

std::wstring SidText(PSID sid)
{
    if (!sid || !::IsValidSid(sid)) {
        return L"";
    }
    // Built by hand: ConvertSidToStringSidW would allocate behind the tracker's back.
    const SID_IDENTIFIER_AUTHORITY* authority = ::GetSidIdentifierAuthority(sid);
    unsigned long long value = 0;
    for (BYTE part : authority->Value) {
        value = (value << 8) | part;
    }
    std::wstring text = L"S-1-" + std::to_wstring(value);
    for (BYTE i = 0; i < *::GetSidSubAuthorityCount(sid); ++i) {
        text += L"-" + std::to_wstring(*::GetSidSubAuthority(sid, i));
    }
    return text;
}

std::wstring CurrentUserSid()
{
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return L"";
    }
    std::unique_ptr<void, decltype(&::CloseHandle)> tokenHolder(token, &::CloseHandle);
    alignas(TOKEN_USER) BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    if (!::GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &size)) {
        return L"";
    }
    return SidText(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid);
}

std::vector<Ace> ReadAces(const ACL* acl)
{
    std::vector<Ace> aces;
    for (DWORD i = 0; acl && i < acl->AceCount; ++i) {
        void* raw = nullptr;
        if (!::GetAce(const_cast<ACL*>(acl), i, &raw)) {
            continue;
        }
        // Allowed and denied ACEs share one layout.
        auto* ace = static_cast<ACCESS_ALLOWED_ACE*>(raw);
        if ((ace->Header.AceFlags & INHERITED_ACE) == 0) {
            aces.push_back({ace->Header.AceType, ace->Header.AceFlags, ace->Mask, SidText(&ace->SidStart)});
        }
    }
    return aces;
}

namespace {

// The system's own LocalFree, for memory that test code got from the system;
// the program's import of it may be redirected through the tracker.
HLOCAL FreeSystemMemory(HLOCAL memory)
{
    static const auto realFree = reinterpret_cast<decltype(&::LocalFree)>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "LocalFree")));
    return realFree(memory);
}

std::vector<BYTE> SidBytes(const std::wstring& text)
{
    PSID sid = nullptr;
    if (!::ConvertStringSidToSidW(text.c_str(), &sid)) {
        return {};
    }
    const BYTE* bytes = static_cast<const BYTE*>(sid);
    std::vector<BYTE> copy(bytes, bytes + ::GetLengthSid(sid));
    FreeSystemMemory(sid);
    return copy;
}

std::vector<BYTE> MakeAcl(const std::vector<Ace>& aces)
{
    std::vector<BYTE> acl(1024);
    auto* list = reinterpret_cast<ACL*>(acl.data());
    ::InitializeAcl(list, static_cast<DWORD>(acl.size()), ACL_REVISION);
    for (const Ace& ace : aces) {
        std::vector<BYTE> sid = SidBytes(ace.sid);
        if (ace.type == ACCESS_DENIED_ACE_TYPE) {
            ::AddAccessDeniedAceEx(list, ACL_REVISION, ace.flags, ace.mask, sid.data());
        } else {
            ::AddAccessAllowedAceEx(list, ACL_REVISION, ace.flags, ace.mask, sid.data());
        }
    }
    return acl;
}

} // namespace

bool Ace::operator<(const Ace& other) const
{
    return std::tie(sid, type, flags, mask) < std::tie(other.sid, other.type, other.flags, other.mask);
}

std::ostream& operator<<(std::ostream& out, const Ace& ace)
{
    std::string sid(ace.sid.begin(), ace.sid.end());
    return out << "{type " << int(ace.type) << ", flags " << int(ace.flags) << ", mask 0x" << std::hex << ace.mask
               << std::dec << ", " << sid << "}";
}


// ---- LocalMemoryTracker ----

namespace {

std::set<HLOCAL> g_live;
int g_unknownFrees = 0;
decltype(&::LocalAlloc) g_realLocalAlloc = nullptr;
decltype(&::LocalFree) g_realLocalFree = nullptr;

void Track(HLOCAL memory)
{
    if (memory) {
        DWORD lastError = ::GetLastError();
        g_live.insert(memory);
        ::SetLastError(lastError);
    }
}

HLOCAL WINAPI CountingLocalAlloc(UINT flags, SIZE_T bytes)
{
    HLOCAL memory = g_realLocalAlloc(flags, bytes);
    Track(memory);
    return memory;
}

HLOCAL WINAPI CountingLocalFree(HLOCAL memory)
{
    if (memory) {
        DWORD lastError = ::GetLastError();
        if (g_live.erase(memory) == 0) {
            ++g_unknownFrees;
        }
        ::SetLastError(lastError);
    }
    return g_realLocalFree(memory);
}

BOOL WINAPI TrackingConvertStringSidToSidW(LPCWSTR text, PSID* sid)
{
    BOOL converted = ::ConvertStringSidToSidW(text, sid);
    if (converted) {
        Track(*sid);
    }
    return converted;
}

DWORD WINAPI TrackingGetNamedSecurityInfoW(LPCWSTR name, SE_OBJECT_TYPE type, SECURITY_INFORMATION information,
                                           PSID* owner, PSID* group, PACL* dacl, PACL* sacl,
                                           PSECURITY_DESCRIPTOR* descriptor)
{
    DWORD result = ::GetNamedSecurityInfoW(name, type, information, owner, group, dacl, sacl, descriptor);
    if (result == ERROR_SUCCESS && descriptor) {
        Track(*descriptor);
    }
    return result;
}

DWORD WINAPI TrackingSetEntriesInAclW(ULONG count, PEXPLICIT_ACCESS_W entries, PACL oldAcl, PACL* newAcl)
{
    DWORD result = ::SetEntriesInAclW(count, entries, oldAcl, newAcl);
    if (result == ERROR_SUCCESS) {
        Track(*newAcl);
    }
    return result;
}

// Points every import slot of the module that holds `from` at `to`.
void RedirectImports(HMODULE module, void* from, void* to)
{
    auto* base = reinterpret_cast<BYTE*>(module);
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    auto* descriptor = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
    for (; descriptor->Name != 0; ++descriptor) {
        auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + descriptor->FirstThunk);
        for (; slot->u1.Function != 0; ++slot) {
            if (reinterpret_cast<void*>(slot->u1.Function) != from) {
                continue;
            }
            DWORD protection = 0;
            ::VirtualProtect(&slot->u1.Function, sizeof(slot->u1.Function), PAGE_READWRITE, &protection);
            slot->u1.Function = reinterpret_cast<ULONG_PTR>(to);
            ::VirtualProtect(&slot->u1.Function, sizeof(slot->u1.Function), protection, &protection);
        }
    }
}

template <class Function>
Function SystemFunction(const char* name)
{
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), name)));
}

} // namespace

LocalMemoryTracker::LocalMemoryTracker(HMODULE module) : m_module(module ? module : ::GetModuleHandleW(nullptr))
{
    g_live.clear();
    g_unknownFrees = 0;
    g_realLocalAlloc = SystemFunction<decltype(&::LocalAlloc)>("LocalAlloc");
    g_realLocalFree = SystemFunction<decltype(&::LocalFree)>("LocalFree");
    RedirectImports(m_module, reinterpret_cast<void*>(g_realLocalAlloc), reinterpret_cast<void*>(&CountingLocalAlloc));
    RedirectImports(m_module, reinterpret_cast<void*>(g_realLocalFree), reinterpret_cast<void*>(&CountingLocalFree));
}

LocalMemoryTracker::~LocalMemoryTracker()
{
    RedirectImports(m_module, reinterpret_cast<void*>(&CountingLocalAlloc), reinterpret_cast<void*>(g_realLocalAlloc));
    RedirectImports(m_module, reinterpret_cast<void*>(&CountingLocalFree), reinterpret_cast<void*>(g_realLocalFree));
}

void LocalMemoryTracker::Install(CQXSecureObject& object)
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

// ---- TestObject ----

namespace {

const wchar_t kTestKeys[] = L"Software\\QXLockTests";

} // namespace

std::wstring TemporaryPath(const std::wstring& name)
{
    wchar_t folder[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH, folder);
    return std::wstring(folder) + L"QXLockTests-" + name;
}

TestObject::TestObject(Kind kind, const std::wstring& name)
    : m_kind(kind), m_type(kind == Kind::Key ? SE_REGISTRY_KEY : SE_FILE_OBJECT)
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
        HANDLE file = ::CreateFileW(m_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            ::CloseHandle(file);
        }
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
    } else if (m_kind == Kind::Folder) {
        ::RemoveDirectoryW(m_path.c_str());
    } else {
        ::DeleteFileW(m_path.c_str());
    }
}

bool TestObject::WriteDacl(const ACL* dacl)
{
    std::wstring name = m_name;
    return ::SetNamedSecurityInfoW(&name[0], m_type, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                   nullptr, nullptr, const_cast<ACL*>(dacl), nullptr) == ERROR_SUCCESS;
}

bool TestObject::SetDacl(const std::vector<Ace>& aces)
{
    std::vector<BYTE> acl = MakeAcl(aces);
    return WriteDacl(reinterpret_cast<const ACL*>(acl.data()));
}

bool TestObject::SetNullDacl()
{
    return WriteDacl(nullptr);
}

std::vector<Ace> TestObject::ReadDacl() const
{
    std::wstring name = m_name;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetNamedSecurityInfoW(&name[0], m_type, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                                &descriptor) != ERROR_SUCCESS) {
        ADD_FAILURE() << "no DACL to read";
        return {};
    }
    std::vector<Ace> aces = ReadAces(dacl);
    FreeSystemMemory(descriptor);
    std::sort(aces.begin(), aces.end());
    return aces;
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
