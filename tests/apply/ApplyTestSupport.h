// Shared by the install-time tests: a secure object that records its log, a
// fake 64-bit helper, stand-ins for security entry points, readable ACEs, and a
// tracker of LocalAlloc memory.
#pragma once

#include <windows.h>
#include <accctrl.h>
#include <aclapi.h>

#include <functional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "entry/SecureObject.h"
#include "helper64/QXBEWUtils.h"

namespace applytest {

class TestSecureObject : public CQXSecureObject {
public:
    void Log(const _stringx<>& message) override;
    HRESULT CreateBitUtilsHelper(IQXBEWUtils** helper) override;

    bool Logged(const std::wstring& line) const;
    // Whether any line begins with the given text.
    bool LoggedPrefix(const std::wstring& prefix) const;

    std::vector<std::wstring> lines;
    // Set to make every Log call disturb the last-error code, as an installer call may.
    bool clobberLastError = false;
    std::function<HRESULT(IQXBEWUtils**)> helperFactory;
    int helperRequests = 0;
};

// The helper's SetObjectPermissions as a test sets it up; the rest fails with E_NOTIMPL.
class FakeHelper : public IQXBEWUtils {
public:
    HRESULT callResult = S_OK;
    bool writesResult = true;
    ULONG resultValue = 0;

    int calls = 0;
    std::wstring objectName, domain, user;
    ULONG objectType = 0, permission = 0, flags = 0;
    LONG references = 1;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--references); }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Method1(LONGLONG, BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Method2(BSTR, LONGLONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Method3() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Property4(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Property5(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Property6(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Property7(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Method8(BSTR, BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Method9(BSTR, BSTR, BSTR, BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Method10(BSTR, BSTR, LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Method11(BSTR, BSTR, LONG, VARIANT_BOOL, VARIANT_BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Method12(BSTR, BSTR, LONG, VARIANT_BOOL, VARIANT_BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Method13(BSTR, BSTR, BSTR*, LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetObjectPermissions(BSTR objectName, BSTR domain, BSTR user, ULONG objectType,
                                                   ULONG permission, ULONG flags, ULONG* result) override;
};

// One ACE as the tests compare it.
struct Ace {
    BYTE type;
    BYTE flags;
    DWORD mask;
    std::wstring sid;
    bool operator==(const Ace& other) const
    {
        return type == other.type && flags == other.flags && mask == other.mask && sid == other.sid;
    }
    bool operator<(const Ace& other) const;
};
std::ostream& operator<<(std::ostream& out, const Ace& ace);

// The ACEs of a list, in list order; inherited ones only when asked for.
std::vector<Ace> ReadAces(const ACL* acl, bool withInherited = false);
// The SID in string form; empty for null.
std::wstring SidText(PSID sid);
// A DACL made of the given ACEs (allow and deny only), for setting up objects.
std::vector<BYTE> MakeAcl(const std::vector<Ace>& aces);

// What the recording SetNamedSecurityInfoW stand-in saw on its last call; it
// forwards to the system.
struct SetNamedCall {
    int count = 0;
    std::wstring objectName;
    SE_OBJECT_TYPE objectType = SE_UNKNOWN_OBJECT_TYPE;
    SECURITY_INFORMATION information = 0;
    bool ownerGroupSaclNull = false;
    bool daclNull = false;
    std::vector<Ace> dacl;
    DWORD forcedResult = ERROR_SUCCESS; // non-zero: fail with it instead of forwarding
};
extern SetNamedCall g_setNamed;
DWORD WINAPI RecordingSetNamedSecurityInfoW(LPWSTR, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID, PSID, PACL, PACL);
extern int g_setEntriesCalls;

// Counts the LocalAlloc memory that the code under test hands around. LocalAlloc
// and LocalFree of this program are redirected through counters; the entry points
// that allocate inside the system (string SIDs, security descriptors, new ACLs)
// are wrapped by Install(). Blocks still live at the end leaked; freeing a block
// never seen is freeing what was not ours to free.
class LocalMemoryTracker {
public:
    LocalMemoryTracker();
    ~LocalMemoryTracker();
    LocalMemoryTracker(const LocalMemoryTracker&) = delete;
    LocalMemoryTracker& operator=(const LocalMemoryTracker&) = delete;

    // Puts the allocating wrappers into the object's entry-point table.
    static void Install(CQXSecureObject& object);
    static std::size_t Live();
    static int UnknownFrees();
};

// A registry key under HKCU\Software\QXLockTests, deleted again with its subkeys.
class TestKey {
public:
    explicit TestKey(const std::wstring& name);
    ~TestKey();
    TestKey(const TestKey&) = delete;
    TestKey& operator=(const TestKey&) = delete;
    // The name that the named-security functions take.
    std::wstring ObjectName() const { return L"CURRENT_USER\\" + m_path; }
    bool SetDacl(const ACL* dacl);
    std::vector<Ace> ReadDacl(bool* daclNull = nullptr) const;

private:
    std::wstring m_path;
};

PermissionsItem MakeItem(const std::wstring& objectName, LockObjectKind kind, const std::wstring& domain,
                         const std::wstring& user, DWORD permission, DWORD flags);

} // namespace applytest
