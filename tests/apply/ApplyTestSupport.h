// Shared by the install-time tests: a secure object that records its log, a
// fake 64-bit helper, readable ACEs, objects with a DACL to read back, and a
// tracker of LocalAlloc memory.
#pragma once

#include <windows.h>
#include <accctrl.h>
#include <aclapi.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "entry/SecureObject.h"
#include "helper64/QXBEWUtils.h"

namespace applytest {

class TestSecureObject : public CQXSecureObject {
public:
    void Log(const _stringx<>& message) override;
    HRESULT CreateBitUtilsHelper(IQXBEWUtils** helper) override;

    std::vector<std::wstring> lines;
    // Set to make every Log call disturb the last-error code, as an installer call may.
    bool clobberLastError = false;
    std::function<HRESULT(IQXBEWUtils**)> helperFactory;
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

// One explicit ACE as the tests compare it.
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

// The explicit ACEs of a list, in list order.
std::vector<Ace> ReadAces(const ACL* acl);
// The SID in string form; empty for null.
std::wstring SidText(PSID sid);
// The SID of the account this program runs as.
std::wstring CurrentUserSid();

// A path of the tests' own in the temporary folder.
std::wstring TemporaryPath(const std::wstring& name);

// A registry key under HKCU\Software\QXLockTests, or a folder or file in the
// temporary folder; deleted again, whatever DACL a test left on it.
class TestObject {
public:
    enum class Kind { Key, Folder, File };
    TestObject(Kind kind, const std::wstring& name);
    ~TestObject();
    TestObject(const TestObject&) = delete;
    TestObject& operator=(const TestObject&) = delete;

    // The name that the named-security functions take.
    const std::wstring& Name() const { return m_name; }
    // Replaces the DACL by a protected one of these ACEs (allow and deny only).
    bool SetDacl(const std::vector<Ace>& aces);
    bool SetNullDacl();
    // The explicit ACEs, sorted. Wine keeps no DACL of a file or folder: read
    // back only keys.
    std::vector<Ace> ReadDacl() const;

private:
    bool WriteDacl(const ACL* dacl);

    Kind m_kind;
    SE_OBJECT_TYPE m_type;
    std::wstring m_path; // key path under HKCU, or file-system path
    std::wstring m_name;
};

// Counts the LocalAlloc memory that the code under test hands around. The
// imports of LocalAlloc and LocalFree of the given module (this program by
// default) are redirected through counters; the entry points that allocate
// inside the system (string SIDs, security descriptors, new ACLs) are wrapped
// by Install(). Blocks still live at the end leaked; freeing a block never seen
// is freeing what was not ours to free.
class LocalMemoryTracker {
public:
    explicit LocalMemoryTracker(HMODULE module = nullptr);
    ~LocalMemoryTracker();
    LocalMemoryTracker(const LocalMemoryTracker&) = delete;
    LocalMemoryTracker& operator=(const LocalMemoryTracker&) = delete;

    // Puts the allocating wrappers into the object's entry-point table.
    static void Install(CQXSecureObject& object);
    static std::size_t Live();
    static int UnknownFrees();

private:
    HMODULE m_module;
};

PermissionsItem MakeItem(const std::wstring& objectName, LockObjectKind kind, const std::wstring& domain,
                         const std::wstring& user, DWORD permission, DWORD flags);

} // namespace applytest
