// Access lists as security descriptor text: of registry keys, which Wine keeps
// exactly (but for the protection flag), and as they reach SetNamedSecurityInfoW,
// where the lists of files and folders are checked (Wine keeps Unix mode bits).
#pragma once

#include <windows.h>
#include <aclapi.h>

#include <ostream>
#include <string>
#include <vector>

#include "apply/SecurityFunctions.h"
#include "cost/PermissionsItem.h"

namespace qxtest {

// The descriptor's parts as text; empty when they cannot be converted.
std::wstring DescriptorText(PSECURITY_DESCRIPTOR descriptor, SECURITY_INFORMATION parts = DACL_SECURITY_INFORMATION);
// The list as "D:(A;OICI;KA;;;BA)"; a null one as "D:NO_ACCESS_CONTROL".
std::wstring AclText(PACL dacl);
// "D:(A;OICI;KA;;;BA)": the entries, without the list's flags; empty when it cannot be read.
std::wstring DaclText(const std::wstring& name, SE_OBJECT_TYPE type = SE_REGISTRY_KEY);
std::wstring CurrentUserSid();

// Where a test key lives: the user's hive, or the machine's in one registry view
// (the machine's software keys differ between the views; the user's do not).
enum class KeyHive { User, Machine64, Machine32 };

// <parent>\<name> in the hive with the given list (null: a null DACL), deleted
// again with its parent whatever list a test left on it. Its list is read and
// written through a key handle of its view, which Wine honours.
class TestKey {
public:
    explicit TestKey(const std::wstring& name, const wchar_t* dacl = L"D:(A;OICI;KA;;;BA)",
                     KeyHive hive = KeyHive::User, const wchar_t* parent = L"Software\\QXLockTests");
    TestKey(const TestKey&) = delete;
    TestKey& operator=(const TestKey&) = delete;
    ~TestKey();
    const std::wstring& Name() const noexcept { return m_name; } // as the named-security calls take it
    std::wstring Dacl() const;
    bool SetDacl(const wchar_t* dacl);

private:
    HKEY m_root;
    REGSAM m_view;
    std::wstring m_parent, m_path, m_name;
};

// One SetNamedSecurityInfoW or SetSecurityInfo call (which has no name); redirectionOff
// under scoped_wow64 (kernel_stubs.h).
struct SecurityWrite {
    std::wstring name;
    SE_OBJECT_TYPE type;
    SECURITY_INFORMATION information;
    std::wstring dacl;
    bool redirectionOff = false;
    bool operator==(const SecurityWrite& o) const
    {
        return name == o.name && type == o.type && information == o.information && dacl == o.dacl &&
               redirectionOff == o.redirectionOff;
    }
};
std::ostream& operator<<(std::ostream& out, const SecurityWrite& write);

// Points the object's SetNamedSecurityInfoW and SetSecurityInfo at recorders that
// pass the call on (or, with passOn false, answer 0) and keep the calls.
void RecordWrites(CSecurityFunctions& security, bool passOn = true);
std::vector<SecurityWrite>& RecordedWrites();

PermissionsItem MakeItem(const std::wstring& name, LockObjectKind kind, const std::wstring& user, DWORD permission,
                         DWORD flags, const std::wstring& domain = std::wstring());

} // namespace qxtest
