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
// "D:(A;OICI;KA;;;BA)": the entries, without the list's flags; empty when it cannot be read.
std::wstring DaclText(const std::wstring& name, SE_OBJECT_TYPE type = SE_REGISTRY_KEY);
std::wstring CurrentUserSid();

// HKCU\Software\QXLockTests\<name> with the given list (null: a null DACL),
// deleted again whatever list a test left on it.
class TestKey {
public:
    explicit TestKey(const std::wstring& name, const wchar_t* dacl = L"D:(A;OICI;KA;;;BA)");
    TestKey(const TestKey&) = delete;
    TestKey& operator=(const TestKey&) = delete;
    ~TestKey();
    const std::wstring& Name() const noexcept { return m_name; } // as the named-security calls take it
    std::wstring Dacl() const { return DaclText(m_name); }
    bool SetDacl(const wchar_t* dacl);

private:
    std::wstring m_path, m_name;
};

// One SetNamedSecurityInfoW call; redirectionOff under scoped_wow64 (kernel_stubs.h).
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

// Points the object's SetNamedSecurityInfoW at a recorder that passes the call on
// (or, with passOn false, answers 0) and keeps the calls.
void RecordWrites(CSecurityFunctions& security, bool passOn = true);
std::vector<SecurityWrite>& RecordedWrites();

PermissionsItem MakeItem(const std::wstring& name, LockObjectKind kind, const std::wstring& user, DWORD permission,
                         DWORD flags, const std::wstring& domain = std::wstring());

} // namespace qxtest
