// One item applied in this process: its account, its route, and the entry it
// merges into the object's list; every security entry point missing or failing.
#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include "RecordingLog.h"
#include "ScratchFolder.h"
#include "SecurityTestSupport.h"
#include "apply/AccessEntries.h"
#include "apply/AccountResolution.h"
#include "apply/ApplyRules.h"
#include "support/unique_any.h"

using namespace qxtest;

namespace {

std::wstring LookingUp(const std::wstring& name)
{
    return L"ResolveSidForAccountName: looking up account name '" + name + L"'";
}

// The SID of an account, and what resolving it logged.
std::wstring Resolve(CSecurityFunctions& security, const wchar_t* domain, const wchar_t* user,
                     std::vector<std::wstring>& lines)
{
    RecordingLog log;
    qx::unique_local<void> sid;
    qx::unique_local<wchar_t> text;
    const DWORD result = CodeOf(log, [&] { sid = ResolveItemSid(security, log, domain, user); });
    lines = log.lines;
    return result ? std::to_wstring(result) : ::ConvertSidToStringSidW(sid.get(), text.put()) ? text.get() : L"?";
}

// Well-known names (the system builds their SIDs) and string SIDs need no lookup;
// other names are looked up as DOMAIN\user.
TEST(Apply, AccountsAreWellKnownNamesStringSidsOrLookedUp)
{
    // A few of the library's list (not a copy of it), compared without case.
    const wchar_t* wellKnown[][2] = {{L"everyone", L"S-1-1-0"},      {L"AUTHENTICATED USERS", L"S-1-5-11"},
                                     {L"Local System", L"S-1-5-18"}, {L"interactive", L"S-1-5-4"},
                                     {L"s-1-5-18", L"S-1-5-18"},     {L"Remote Desktop Users", L"S-1-5-32-555"}};
    std::vector<std::wstring> lines;
    CSecurityFunctions security;
    for (const auto& account : wellKnown) {
        EXPECT_EQ(account[1], Resolve(security, L"CORP", account[0], lines)) << account[0];
        EXPECT_TRUE(lines.empty()) << account[0];
    }
    const wchar_t* lookups[][3] = {
        {L"CORP\\", L"\\jdoe", L"CORP\\jdoe"}, {L"CORP", L"", L"CORP"}, {L"", L"S-Admins", L"S-Admins"}};
    for (const auto& lookup : lookups) {
        EXPECT_EQ(L"1332", Resolve(security, lookup[0], lookup[1], lines));
        EXPECT_EQ(
            (std::vector<std::wstring>{LookingUp(lookup[2]), L"Failed to lookup account name, last error: 0x00000534"}),
            lines);
    }
}

// The installer's log may change the thread's last error; the lookup's code must survive it.
class ClobberingLog : public RecordingLog {
public:
    void Log(const _stringx<>& message) override
    {
        RecordingLog::Log(message);
        ::SetLastError(ERROR_INVALID_FUNCTION);
    }
};

BOOL WINAPI LookupGivesInvalidSid(LPCWSTR, LPCWSTR, PSID, LPDWORD, LPWSTR, LPDWORD, PSID_NAME_USE)
{
    ::SetLastError(ERROR_SUCCESS);
    return TRUE; // the buffer stays zero
}
BOOL WINAPI LookupFailsWithTrustError(LPCWSTR, LPCWSTR, PSID, LPDWORD, LPWSTR, LPDWORD, PSID_NAME_USE)
{
    ::SetLastError(ERROR_TRUSTED_DOMAIN_FAILURE);
    return FALSE;
}

// What a row takes away from the security entry points, or puts in their place.
constexpr unsigned NoCreateWellKnown = 1, InvalidLookup = 32, TrustLookup = 64, NoIsValid = 128, NoConvert = 256,
                   NoGet = 512, NoSetEntries = 1024, NoSet = 2048;

void Change(CSecurityFunctions& s, unsigned what)
{
    s.m_pfnCreateWellKnownSid = what & NoCreateWellKnown ? nullptr : s.m_pfnCreateWellKnownSid;
    s.m_pfnLookupAccountNameW = what & InvalidLookup ? &LookupGivesInvalidSid
                                : what & TrustLookup ? &LookupFailsWithTrustError
                                                     : s.m_pfnLookupAccountNameW;
    s.m_pfnIsValidSid = what & NoIsValid ? nullptr : s.m_pfnIsValidSid;
    s.m_pfnConvertStringSidToSidW = what & NoConvert ? nullptr : s.m_pfnConvertStringSidToSidW;
    s.m_pfnGetNamedSecurityInfoW = what & NoGet ? nullptr : s.m_pfnGetNamedSecurityInfoW;
    s.m_pfnSetEntriesInAclW = what & NoSetEntries ? nullptr : s.m_pfnSetEntriesInAclW;
    s.m_pfnSetNamedSecurityInfoW = what & NoSet ? nullptr : s.m_pfnSetNamedSecurityInfoW;
}

// On a real key, which keeps its list unless the item succeeds.
TEST(Apply, EachEntryPointMissingOrFailingGivesItsOutcome)
{
    const wchar_t before[] = L"D:(A;OICI;KA;;;BA)"; // Wine drops the protection flag
    const std::wstring get = L"Getting existing security descriptor for '$'";
    const std::wstring set = L"Setting new security descriptor for '$'";
    const std::wstring unmapped = L"Failed to lookup account name, last error: 0x00000534";
    const wchar_t* guests = L"(A;OICI;KR;;;BG)";
    const struct {
        unsigned change;
        const wchar_t* user;
        DWORD result;
        const wchar_t* entry; // the entry added first to the list; null: none
        std::vector<std::wstring> lines;
    } rows[] = {{0, L"Guests", 0, guests, {get, set}},
                {0, L"SYSTEM", 0, L"(A;OICI;KR;;;SY)", {LookingUp(L"SYSTEM"), get, set}},
                {0, L"", ERROR_NONE_MAPPED, nullptr, {LookingUp(L"")}},
                // A SID the system cannot build is left to the lookup, which knows the name.
                {NoCreateWellKnown, L"Guests", 0, guests, {LookingUp(L"Guests"), get, set}},
                // A lookup that fails without a code of its own fails the item with 1332.
                {InvalidLookup,
                 L"jdoe",
                 ERROR_NONE_MAPPED,
                 nullptr,
                 {LookingUp(L"jdoe"), L"Failed to lookup account name, SID is invalid, last error: 0x00000000"}},
                {TrustLookup,
                 L"jdoe",
                 ERROR_TRUSTED_DOMAIN_FAILURE,
                 nullptr,
                 {LookingUp(L"jdoe"), L"Failed to lookup account name, last error: 0x000006fc"}},
                // A string SID that is not valid, or not converted, is looked up as a name.
                {NoIsValid, L"S-1-5-32-546", ERROR_NONE_MAPPED, nullptr, {LookingUp(L"S-1-5-32-546"), unmapped}},
                {NoConvert, L"S-1-5-32-546", ERROR_NONE_MAPPED, nullptr, {LookingUp(L"S-1-5-32-546"), unmapped}},
                {NoGet,
                 L"Guests",
                 ERROR_PROC_NOT_FOUND,
                 nullptr,
                 {get, L"Failed to obtain existing security descriptor, last error: 0x0000007f"}},
                {NoSetEntries,
                 L"Guests",
                 ERROR_PROC_NOT_FOUND,
                 nullptr,
                 {get, L"Failed to set explicit access for new ACL, last error: 0x0000007f"}},
                {NoSet,
                 L"Guests",
                 ERROR_PROC_NOT_FOUND,
                 nullptr,
                 {get, set, L"Failed to set new security descriptor, last error: 0x0000007f"}}};
    for (const auto& row : rows) {
        TestKey key(L"Accounts", before);
        CSecurityFunctions security;
        Change(security, row.change);
        ClobberingLog log;
        EXPECT_EQ(row.result, CodeOf(log,
                                     [&] {
                                         ApplyItemInProcess(
                                             security, log,
                                             MakeItem(key.Name(), LockObjectKind::Registry, row.user, KEY_READ, 0x08));
                                     }))
            << row.change;
        std::vector<std::wstring> lines = row.lines;
        for (std::wstring& line : lines) {
            const std::size_t at = line.find(L'$');
            line = at == std::wstring::npos ? line : line.replace(at, 1, key.Name());
        }
        EXPECT_EQ(lines, log.lines) << row.change;
        EXPECT_EQ(row.entry ? L"D:" + std::wstring(row.entry) + (before + 2) : before, key.Dacl()) << row.change;
    }
}

TEST(Apply, RouteFollowsKindFlagsAndName)
{
    const wchar_t* system = L"C:\\Windows\\System32";
    enum { Own = 0, View32 = 32, View64 = 64 };
    const struct {
        const wchar_t* name;
        LockObjectKind kind;
        DWORD flags;
        bool helper, noRedirection, relative;
        int view;
        SE_OBJECT_TYPE named; // the type the named-security calls of this process take
    } rows[] = {
        // Any bit of 0x16 on a key goes to the helper; 0x10 says the 32-bit view.
        {L"MACHINE\\A", LockObjectKind::Registry, 0x10, true, false, false, View32, SE_REGISTRY_WOW64_32KEY},
        {L"MACHINE\\A", LockObjectKind::Registry, 0x0A, true, false, false, View64, SE_REGISTRY_KEY},
        {L"MACHINE\\A", LockObjectKind::Registry, 0x02, true, false, false, View64, SE_REGISTRY_KEY},
        {L"MACHINE\\A", LockObjectKind::Registry, 0x09, false, false, false, Own, SE_REGISTRY_KEY},
        // Files of 64-bit components, and anything under the system folder, without redirection.
        {L"C:\\App\\a.dll", LockObjectKind::File, 0x08, false, true, false, View64, SE_FILE_OBJECT},
        {L"C:\\App\\", LockObjectKind::CreateFolder, 0x16, false, false, false, Own, SE_FILE_OBJECT},
        {L"c:\\windows\\system32\\drivers\\a.sys", LockObjectKind::File, 0x16, false, true, false, View64,
         SE_FILE_OBJECT},
        {L"D:\\C:\\Windows\\System32\\a.dll", LockObjectKind::File, 0x16, false, false, false, Own, SE_FILE_OBJECT},
        {L"\\\\server\\share\\a.dll", LockObjectKind::File, 0x16, false, false, false, Own, SE_FILE_OBJECT},
        {L"C:\\Windows\\System32\\a.dll", LockObjectKind::Unknown, 0x08, false, false, false, Own,
         SE_UNKNOWN_OBJECT_TYPE},
        // A service has neither a registry view nor a path: in process, as named, whatever its component.
        {L"QXService", LockObjectKind::Service, 0x16, false, false, false, Own, SE_SERVICE},
        // Names the system would resolve against the current folder.
        {L"a.dll", LockObjectKind::File, 0x16, false, false, true, Own, SE_FILE_OBJECT},
        {L"\\Windows\\a.dll", LockObjectKind::File, 0x16, false, false, true, Own, SE_FILE_OBJECT},
        {L"C:a.dll", LockObjectKind::File, 0x16, false, false, true, Own, SE_FILE_OBJECT},
        {L"App\\", LockObjectKind::CreateFolder, 0x08, false, true, true, View64, SE_FILE_OBJECT}};
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << testing::PrintToString(row.name) << ", flags " << row.flags);
        const PermissionsItem item = MakeItem(row.name, row.kind, L"Users", 1, row.flags);
        EXPECT_EQ(row.helper, AppliesThroughHelper(item));
        EXPECT_EQ(row.noRedirection, AppliesWithoutRedirection(item, system));
        EXPECT_EQ(row.relative, HasRelativeFileName(item));
        const ObjectView view = RouteViewOf(item, system);
        EXPECT_EQ(row.view, static_cast<int>(view));
        EXPECT_EQ(row.named, NamedObjectType(item.m_objectType, view));
    }
}

// The entry goes into the list that was there: it replaces the trustee's own entry
// of its kind and leaves every other one; a null list (everyone may do anything)
// becomes the entry alone. "$" is the list before, without its "D:".
TEST(Apply, EntryMergesIntoTheObjectsList)
{
    const ScratchFolder scratch;
    const std::wstring folder = scratch.path, file = folder + L"a.txt";
    qx::unique_file(::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    const wchar_t* list = L"D:(A;OICI;KA;;;BA)(A;OICI;KR;;;BU)";
    const struct {
        std::wstring name; // empty: a key with the list before
        const wchar_t* before;
        LockObjectKind kind;
        const wchar_t* user;
        DWORD permission, flags;
        std::wstring after;
    } rows[] = {
        {L"", list, LockObjectKind::Registry, L"Everyone", KEY_READ, 0x08, L"D:(A;OICI;KR;;;WD)$"},
        {L"", list, LockObjectKind::Registry, L"Users", KEY_ALL_ACCESS, 0x08, L"D:(A;OICI;KA;;;BA)(A;OICI;KA;;;BU)"},
        {L"", list, LockObjectKind::Registry, L"Guests", KEY_SET_VALUE, 0x09, L"D:(D;OICI;DC;;;BG)$"},
        {L"", list, LockObjectKind::Registry, L"Guests", KEY_READ, 0x0A, L"D:(A;NP;KR;;;BG)$"},
        {L"", nullptr, LockObjectKind::Registry, L"Users", KEY_READ, 0x08, L"D:(A;OICI;KR;;;BU)"},
        {file, nullptr, LockObjectKind::File, L"Users", FILE_GENERIC_READ, 0x08, L"D:(A;;FR;;;BU)$"},
        {file, nullptr, LockObjectKind::File, L"Users", FILE_GENERIC_READ, 0x09, L"D:(D;;FR;;;BU)$"},
        {folder, nullptr, LockObjectKind::CreateFolder, L"Users", FILE_GENERIC_READ, 0x08, L"D:(A;OICI;FR;;;BU)$"},
        {folder, nullptr, LockObjectKind::CreateFolder, L"Users", FILE_GENERIC_READ, 0x0A, L"D:(A;NP;FR;;;BU)$"}};
    CSecurityFunctions security;
    RecordingLog log;
    for (const auto& row : rows) {
        TestKey key(L"Merge", row.before);
        const std::wstring name = row.name.empty() ? key.Name() : row.name;
        std::wstring after = row.after;
        if (after.back() == L'$') {
            after.replace(after.size() - 1, 1, DaclText(name, ObjectTypeForKind(row.kind)).substr(2));
        }
        RecordWrites(security, row.name.empty()); // Wine keeps no list of a file or folder to write
        EXPECT_EQ(0u, CodeOf(log, [&] {
                      ApplyItemInProcess(security, log, MakeItem(name, row.kind, row.user, row.permission, row.flags));
                  }));
        const std::vector<SecurityWrite> written = {
            {name, ObjectTypeForKind(row.kind), DACL_SECURITY_INFORMATION, after}};
        EXPECT_EQ(written, RecordedWrites());
        EXPECT_TRUE(!row.name.empty() || key.Dacl() == after) << testing::PrintToString(key.Dacl());
    }
}

} // namespace
