// The proxy against the real QXBEW.exe: start, bind through the running object
// table, one call across the process boundary, and the helper's end.
#include <gtest/gtest.h>

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <string>

#include "HelperTestSupport.h"
#include "helper64/BitUtilsHelper.h"
#include "helper64/CreateBitUtilsHelper.h"
#include "helper64/ModuleLock.h"
#include "inc/CoCreate.h"
#include "inc/ComHolders.h"

using namespace helper_test;

namespace {

constexpr HRESULT kCannotStart = static_cast<HRESULT>(0x80070002);
const wchar_t kTestRoot[] = L"Software\\QXLockTests";
const wchar_t kGuestsSid[] = L"S-1-5-32-546";

// A proxy reference that is released when the test is done with it.
class ProxyHolder {
public:
    ProxyHolder()
    {
        EXPECT_EQ(S_OK, CBitUtilsHelper::CreateInstance(&m_proxy));
        if (m_proxy) {
            m_proxy->AddRef();
        }
    }
    ProxyHolder(const ProxyHolder&) = delete;
    ProxyHolder& operator=(const ProxyHolder&) = delete;
    ~ProxyHolder() { reset(); }
    void reset()
    {
        if (m_proxy) {
            m_proxy->Release();
            m_proxy = nullptr;
        }
    }
    CBitUtilsHelper* operator->() const { return m_proxy; }
    CBitUtilsHelper* get() const { return m_proxy; }

private:
    CBitUtilsHelper* m_proxy = nullptr;
};

// A key under HKCU\Software\QXLockTests that is deleted again after the test.
class ScopedTestKey {
public:
    explicit ScopedTestKey(bool create) : m_subKey(std::wstring(kTestRoot) + L"\\" + NewGuidText())
    {
        if (create) {
            HKEY key = nullptr;
            EXPECT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_CURRENT_USER, m_subKey.c_str(), 0, nullptr, 0,
                                                       KEY_ALL_ACCESS, nullptr, &key, nullptr));
            ::RegCloseKey(key);
        }
    }
    ScopedTestKey(const ScopedTestKey&) = delete;
    ScopedTestKey& operator=(const ScopedTestKey&) = delete;
    ~ScopedTestKey()
    {
        ::RegDeleteKeyW(HKEY_CURRENT_USER, m_subKey.c_str());
        ::RegDeleteKeyW(HKEY_CURRENT_USER, kTestRoot); // only when no other test key is left
    }
    // The name in the form of the named-security functions.
    std::wstring ObjectName() const { return L"CURRENT_USER\\" + m_subKey; }

private:
    std::wstring m_subKey;
};

// The type and mask of the explicit entry for sidText in the key's DACL; type 0xFF when none.
struct FoundEntry {
    BYTE type = 0xFF;
    ACCESS_MASK mask = 0;
};

FoundEntry FindEntry(const std::wstring& objectName, const wchar_t* sidText)
{
    FoundEntry found;
    PSID wanted = nullptr;
    if (!::ConvertStringSidToSidW(sidText, &wanted)) {
        ADD_FAILURE() << "bad SID text";
        return found;
    }
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    std::wstring name = objectName;
    DWORD code = ::GetNamedSecurityInfoW(&name[0], SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                         &dacl, nullptr, &descriptor);
    EXPECT_EQ(ERROR_SUCCESS, code);
    for (DWORD i = 0; code == ERROR_SUCCESS && dacl && i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!::GetAce(dacl, i, &ace)) {
            continue;
        }
        auto* header = static_cast<ACE_HEADER*>(ace);
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE && header->AceType != ACCESS_DENIED_ACE_TYPE) {
            continue;
        }
        // Allowed and denied entries share this layout.
        auto* entry = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        if (::EqualSid(&entry->SidStart, wanted)) {
            found.type = header->AceType;
            found.mask = entry->Mask;
            break;
        }
    }
    ::LocalFree(descriptor);
    ::LocalFree(wanted);
    return found;
}

using HelperActivation = HelperProcessTest;

TEST_F(HelperActivation, SetObjectPermissionsAppliesTheItemInTheHelperProcess)
{
    struct Case {
        const char* what;
        bool keyExists;
        ULONG flags;
        ULONG expectedResult;
        BYTE expectedAceType;
    } cases[] = {
        {"32-bit component item: allowed", true, 0x16, ERROR_SUCCESS, ACCESS_ALLOWED_ACE_TYPE},
        {"deny flag", true, 0x17, ERROR_SUCCESS, ACCESS_DENIED_ACE_TYPE},
        {"missing key: the item's own code", false, 0x16, ERROR_FILE_NOT_FOUND, 0xFF},
    };
    ProxyHolder proxy;
    ASSERT_EQ(S_OK, proxy->Initialize(HelperPath().c_str()));
    ASSERT_NE(nullptr, proxy->m_pDispatch);
    EXPECT_EQ(1u, ProcessesNamed(L"QXBEW.exe").size());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScopedTestKey key(c.keyExists);
        qx::bstr_holder name;
        *name.put() = qx::bstr_copy(key.ObjectName().c_str());
        qx::bstr_holder domain;
        *domain.put() = qx::bstr_copy(L"");
        qx::bstr_holder user;
        *user.put() = qx::bstr_copy(kGuestsSid);
        ULONG result = 0xDEADBEEF;
        EXPECT_EQ(S_OK, proxy->SetObjectPermissions(name.get(), domain.get(), user.get(), SE_REGISTRY_KEY,
                                                    KEY_READ, c.flags, &result));
        EXPECT_EQ(c.expectedResult, result);
        if (c.keyExists) {
            FoundEntry entry = FindEntry(key.ObjectName(), kGuestsSid);
            EXPECT_EQ(c.expectedAceType, entry.type);
            EXPECT_EQ(static_cast<ACCESS_MASK>(KEY_READ), entry.mask);
        }
    }
    // The members the library never calls answer a defined failure.
    EXPECT_EQ(E_NOTIMPL, proxy->Method3());
}

// The apply step's helper route against the real helper.
class HelperRouteObject : public RecordingLogger {
public:
    HRESULT CreateBitUtilsHelper(IQXBEWUtils** helper) override
    {
        return ::CreateBitUtilsHelper(*this, HelperPath().c_str(), helper);
    }
};

TEST_F(HelperActivation, ApplyItemSendsRegistryItemsOfThirtyTwoBitComponentsToTheHelper)
{
    ScopedTestKey key(true);
    PermissionsItem item;
    item.m_strObjectName = key.ObjectName().c_str();
    item.m_kind = LockObjectKind::Registry;
    item.m_objectType = SE_REGISTRY_KEY;
    item.m_strUser = kGuestsSid;
    item.m_dwPermission = KEY_READ;
    item.m_dwFlags = LOCKPERM_COMPONENT_32BIT;
    HelperRouteObject object;
    EXPECT_EQ(0u, object.ApplyItem(item));
    // Only the route's own line: the access-entry messages belong to the helper process.
    EXPECT_EQ(std::vector<std::wstring>{L"Processing registry object '" + key.ObjectName() + L"' in 64-bit outproc"},
              object.lines);
    FoundEntry entry = FindEntry(key.ObjectName(), kGuestsSid);
    EXPECT_EQ(ACCESS_ALLOWED_ACE_TYPE, entry.type);
    EXPECT_EQ(static_cast<ACCESS_MASK>(KEY_READ), entry.mask);
}

TEST_F(HelperActivation, CreateBitUtilsHelperHandsOutOneReference)
{
    RecordingLogger logger;
    LONG locksBefore = qx::module_lock_count();
    IQXBEWUtils* helper = nullptr;
    ASSERT_EQ(S_OK, CreateBitUtilsHelper(logger, HelperPath().c_str(), &helper));
    ASSERT_NE(nullptr, helper);
    EXPECT_TRUE(logger.lines.empty());
    EXPECT_EQ(locksBefore + 1, qx::module_lock_count());
    // The caller's reference is the only one: one more and one less leave it at 1.
    EXPECT_EQ(2u, helper->AddRef());
    EXPECT_EQ(1u, helper->Release());
    EXPECT_EQ(0u, helper->Release());
    EXPECT_EQ(locksBefore, qx::module_lock_count());
    EXPECT_TRUE(WaitUntilNoProcess(L"QXBEW.exe", 10000)) << "the helper outlived its client";
}

TEST_F(HelperActivation, FailuresAreLoggedAndReturned)
{
    struct Case {
        const char* what;
        const wchar_t* path;
        HRESULT expected;
        const wchar_t* logged;
    } cases[] = {
        {"empty path (64-bit library: nothing extracted)", L"", kCannotStart,
         L"Failed to initialize 64-bit helper, error 80070002"},
        {"no such program", L"C:\\no\\such\\folder\\QXBEW.exe", kCannotStart,
         L"Failed to initialize 64-bit helper, error 80070002"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RecordingLogger logger;
        LONG locksBefore = qx::module_lock_count();
        IQXBEWUtils* helper = reinterpret_cast<IQXBEWUtils*>(1);
        EXPECT_EQ(c.expected, CreateBitUtilsHelper(logger, c.path, &helper));
        EXPECT_EQ(nullptr, helper);
        ASSERT_EQ(1u, logger.lines.size());
        EXPECT_EQ(c.logged, logger.lines[0]);
        EXPECT_EQ(locksBefore, qx::module_lock_count()) << "the failed proxy was not released";
    }
    RecordingLogger logger;
    EXPECT_EQ(E_POINTER, CreateBitUtilsHelper(logger, L"", nullptr));
    EXPECT_TRUE(logger.lines.empty());
}

TEST_F(HelperActivation, HelperThatNeverRegistersEndsTheBindWithItsFailure)
{
    // The helper serves CLSID_QXBEWUtils only: asked for another class it ends at
    // once without registering anything.
    CLSID otherClass = {};
    ASSERT_EQ(S_OK, ::CoCreateGuid(&otherClass));
    qx::bind_polling quick;
    quick.attempts = 5;
    quick.delayMs = 20;
    IDispatch* dispatch = reinterpret_cast<IDispatch*>(1);
    ULONGLONG started = ::GetTickCount64();
    EXPECT_EQ(MK_E_UNAVAILABLE, CoCreateFromExecutable(HelperPath().c_str(), otherClass, IID_IDispatch,
                                                       reinterpret_cast<void**>(&dispatch), quick));
    EXPECT_EQ(nullptr, dispatch);
    EXPECT_GE(::GetTickCount64() - started, 5u * 20u) << "every attempt waits before the next";
}

TEST_F(HelperActivation, EachCreationStartsItsOwnHelper)
{
    ProxyHolder first;
    ProxyHolder second;
    ASSERT_EQ(S_OK, first->Initialize(HelperPath().c_str()));
    ASSERT_EQ(S_OK, second->Initialize(HelperPath().c_str()));
    EXPECT_EQ(2u, ProcessesNamed(L"QXBEW.exe").size());
    // Each helper registered under the GUID of its own command line.
    EXPECT_EQ(2u, RegisteredHelperMonikers().size());
    EXPECT_NE(first->m_pDispatch, second->m_pDispatch);
    first.reset();
    second.reset();
    EXPECT_TRUE(WaitUntilNoProcess(L"QXBEW.exe", 10000));
    EXPECT_TRUE(RegisteredHelperMonikers().empty()) << "a helper left its registration behind";
}

TEST_F(HelperActivation, PathWithBlanksStartsTheNamedProgramOnly)
{
    // "<base>\run here\QXBEW.exe" with a decoy "<base>\run.exe": a command line
    // taken apart at its blanks would start the decoy.
    std::wstring base = TempFolder() + L"qxtest" + NewGuidText() + L"\\";
    std::wstring folder = base + L"run here\\";
    ASSERT_TRUE(::CreateDirectoryW(base.c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    std::wstring helper = folder + L"QXBEW.exe";
    ASSERT_TRUE(::CopyFileW(HelperPath().c_str(), helper.c_str(), FALSE));
    ASSERT_TRUE(::CopyFileW(HelperPath().c_str(), (base + L"run.exe").c_str(), FALSE));
    {
        ProxyHolder proxy;
        EXPECT_EQ(S_OK, proxy->Initialize(helper.c_str()));
        EXPECT_EQ(1u, ProcessesNamed(L"QXBEW.exe").size());
        EXPECT_TRUE(ProcessesNamed(L"run.exe").empty());
    }
    EXPECT_TRUE(WaitUntilNoProcess(L"QXBEW.exe", 10000));
    EXPECT_TRUE(WaitUntilNoProcess(L"run.exe", 10000));
    EXPECT_TRUE(RemoveFolder(folder));
    EXPECT_TRUE(RemoveFolder(base));
}

} // namespace
