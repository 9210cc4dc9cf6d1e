// Shared by the apply and installer tests: readable ACEs, objects with a DACL to
// read back, and a tracker of LocalAlloc memory.
#pragma once

#include <windows.h>
#include <accctrl.h>
#include <aclapi.h>

#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "apply/SecurityFunctions.h"
#include "cost/PermissionsItem.h"

namespace applytest {

// One explicit ACE as the tests compare it.
struct Ace {
    BYTE type;
    BYTE flags;
    DWORD mask;
    std::wstring sid;
    bool operator==(const Ace& o) const
    {
        return std::tie(type, flags, mask, sid) == std::tie(o.type, o.flags, o.mask, o.sid);
    }
    bool operator<(const Ace& o) const
    {
        return std::tie(sid, type, flags, mask) < std::tie(o.sid, o.type, o.flags, o.mask);
    }
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
    bool SetNullDacl() { return WriteDacl(nullptr); }
    // The explicit ACEs, sorted. Wine keeps no DACL of a file or folder: read back only keys.
    std::vector<Ace> ReadDacl() const;
    // The whole DACL as security descriptor text, every entry in its place.
    std::wstring DaclText() const;

private:
    bool WriteDacl(const ACL* dacl);

    Kind m_kind;
    std::wstring m_path; // key path under HKCU, or file-system path
    std::wstring m_name;
};

// Counts the LocalAlloc memory that the code under test hands around: the module's
// (this program's by default) imports of LocalAlloc and LocalFree go through
// counters, and Install() wraps the entry points that allocate inside the system.
// Blocks still live at the end leaked; freeing a block never seen frees what was
// not ours to free.
class LocalMemoryTracker {
public:
    explicit LocalMemoryTracker(HMODULE module = nullptr);
    ~LocalMemoryTracker();
    LocalMemoryTracker(const LocalMemoryTracker&) = delete;
    LocalMemoryTracker& operator=(const LocalMemoryTracker&) = delete;

    static void Install(CSecurityFunctions& object);
    static std::size_t Live();
    static int UnknownFrees();

private:
    HMODULE m_module;
};

PermissionsItem MakeItem(const std::wstring& objectName, LockObjectKind kind, const std::wstring& domain,
                         const std::wstring& user, DWORD permission, DWORD flags);

} // namespace applytest
