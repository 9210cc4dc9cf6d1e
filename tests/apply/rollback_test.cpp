// Capturing access lists for a rollback and putting them back: on real keys, which
// Wine keeps exactly (but for the protection flag), and at the security calls for
// what Wine cannot show (protection, views, files).
#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "ApplyTestSupport.h"
#include "RecordingLog.h"
#include "apply/AccessEntries.h"
#include "apply/Rollback.h"
#include "kernel_stubs.h"

using namespace applytest;

namespace {

constexpr BYTE kAllow = ACCESS_ALLOWED_ACE_TYPE;
constexpr BYTE kInherited = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;

class Security : public CSecurityFunctions, public qxtest::RecordingLog { };

// What reached the security calls: the object type each was asked with, and the
// information each write passed.
struct Call {
    std::wstring name;
    SE_OBJECT_TYPE type;
    SECURITY_INFORMATION information;
    bool operator==(const Call& o) const { return name == o.name && type == o.type && information == o.information; }
};
std::vector<Call> g_reads, g_writes;
DWORD g_readResult = ERROR_SUCCESS;

DWORD WINAPI RecordingGet(LPCWSTR name, SE_OBJECT_TYPE type, SECURITY_INFORMATION information, PSID*, PSID*, PACL* dacl,
                          PACL*, PSECURITY_DESCRIPTOR* descriptor)
{
    g_reads.push_back({name, type, information});
    if (g_readResult != ERROR_SUCCESS) {
        return g_readResult;
    }
    // Any object reads as Administrators' full control.
    BOOL present = FALSE, defaulted = FALSE;
    ::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;;KA;;;BA)", SDDL_REVISION_1, descriptor, nullptr);
    ::GetSecurityDescriptorDacl(*descriptor, &present, dacl, &defaulted);
    return ERROR_SUCCESS;
}

DWORD WINAPI RecordingSet(LPWSTR name, SE_OBJECT_TYPE type, SECURITY_INFORMATION information, PSID, PSID, PACL, PACL)
{
    g_writes.push_back({name, type, information});
    return ERROR_SUCCESS;
}

std::vector<std::string> g_redirection;

BOOL WINAPI Wow64(HANDLE, PBOOL wow64)
{
    *wow64 = TRUE;
    return TRUE;
}
BOOL WINAPI RedirectionDisable(PVOID* state)
{
    *state = nullptr;
    g_redirection.push_back(g_reads.empty() && g_writes.empty() ? "off" : "off after a call");
    return TRUE;
}
BOOL WINAPI RedirectionRevert(PVOID)
{
    g_redirection.push_back(std::to_string(g_reads.size() + g_writes.size()) + " calls, on");
    return TRUE;
}

TEST(Rollback, ThePutBackListIsTheOneCapturedEntryForEntry)
{
    TestObject key(TestObject::Kind::Key, L"Rollback");
    ASSERT_TRUE(key.SetDacl({{ACCESS_DENIED_ACE_TYPE, kInherited, KEY_SET_VALUE, L"S-1-5-32-546"},
                             {kAllow, kInherited, KEY_ALL_ACCESS, L"S-1-5-32-544"},
                             {kAllow, kInherited, KEY_READ, L"S-1-5-32-545"}}));
    const std::wstring before = key.DaclText();
    Security security;
    CAccessListCapture capture(security, security);
    const PermissionsItem item = MakeItem(key.Name(), LockObjectKind::Registry, L"", L"Everyone", KEY_READ, 0x08);
    capture.Capture(item);
    capture.Capture(MakeItem(key.Name(), LockObjectKind::Registry, L"", L"Users", KEY_WRITE, 0x09));
    // A second row on the same object records nothing more: the first saw the list as it was.
    EXPECT_EQ(key.Name() + L"|4|0|" + before, capture.Data().str());
    ASSERT_EQ(0u, ApplyItemInProcess(security, security, item));
    ASSERT_NE(before, key.DaclText());

    security.lines.clear();
    RestoreAccessLists(security, security, capture.Data());
    EXPECT_EQ(before, key.DaclText());
    EXPECT_EQ(std::vector<std::wstring>{L"Restored access list of '" + key.Name() + L"'"}, security.lines);
}

TEST(Rollback, CapturesWhatExistsAndCanBeReadInTheRoutesView)
{
    Security security;
    security.m_pfnGetNamedSecurityInfoW = &RecordingGet;
    const struct {
        const char* name;
        const wchar_t* object;
        LockObjectKind kind;
        DWORD flags;
        DWORD readResult;
        SE_OBJECT_TYPE read;
        std::wstring record; // empty: none
        std::wstring line;   // empty: none
    } rows[] = {
        {"own view", L"MACHINE\\Software\\A", LockObjectKind::Registry, 0x08, 0, SE_REGISTRY_KEY,
         L"MACHINE\\Software\\A|4|0|D:(A;;KA;;;BA)", L""},
        // The helper's views: 32-bit for a component without the 64-bit attribute.
        {"helper, 32-bit", L"MACHINE\\Software\\B", LockObjectKind::Registry, 0x16, 0, SE_REGISTRY_WOW64_32KEY,
         L"MACHINE\\Software\\B|4|32|D:(A;;KA;;;BA)", L""},
        {"helper, 64-bit", L"MACHINE\\Software\\C", LockObjectKind::Registry, 0x0A, 0, SE_REGISTRY_KEY,
         L"MACHINE\\Software\\C|4|64|D:(A;;KA;;;BA)", L""},
        {"file", L"C:\\App\\a.txt", LockObjectKind::File, 0x16, 0, SE_FILE_OBJECT, L"C:\\App\\a.txt|1|0|D:(A;;KA;;;BA)",
         L""},
        {"folder, native view", L"C:\\App\\", LockObjectKind::CreateFolder, 0x08, 0, SE_FILE_OBJECT,
         L"C:\\App\\|1|64|D:(A;;KA;;;BA)", L""},
        // Made by this installation: the installer removes it, list and all.
        {"missing file", L"C:\\App\\b.txt", LockObjectKind::File, 0x08, ERROR_FILE_NOT_FOUND, SE_FILE_OBJECT, L"", L""},
        {"missing folder", L"C:\\New\\", LockObjectKind::CreateFolder, 0x08, ERROR_PATH_NOT_FOUND, SE_FILE_OBJECT, L"",
         L""},
        {"unreadable", L"C:\\App\\c.txt", LockObjectKind::File, 0x08, ERROR_ACCESS_DENIED, SE_FILE_OBJECT, L"",
         L"No rollback for 'C:\\App\\c.txt': its access list cannot be read, error 0x00000005"},
        {"separator in the name", L"CLASSES_ROOT\\*\\shellex", LockObjectKind::Registry, 0x08, 0, SE_REGISTRY_KEY, L"",
         L"No rollback for 'CLASSES_ROOT\\*\\shellex': its name or access list holds '*' or '|'"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        g_reads.clear();
        g_readResult = row.readResult;
        security.lines.clear();
        CAccessListCapture capture(security, security);
        capture.Capture(MakeItem(row.object, row.kind, L"", L"Users", 1, row.flags));
        EXPECT_EQ(row.record, capture.Data().str());
        EXPECT_EQ(row.line.empty() ? std::vector<std::wstring>{} : std::vector<std::wstring>{row.line}, security.lines);
        EXPECT_EQ((std::vector<Call>{{row.object, row.read, DACL_SECURITY_INFORMATION}}), g_reads);
    }
    g_readResult = ERROR_SUCCESS;
}

TEST(Rollback, PutsBackEachRecordWithItsProtectionAndPassesOverBadOnes)
{
    Security security;
    security.m_pfnSetNamedSecurityInfoW = &RecordingSet;
    g_writes.clear();
    const SECURITY_INFORMATION protectedList = DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION;
    const SECURITY_INFORMATION inheriting = DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION;
    const std::wstring data = L"MACHINE\\Software\\A|4|0|D:P(A;;KA;;;BA)*"
                              L"MACHINE\\Software\\B|4|32|D:(A;;KA;;;BA)*"
                              L"C:\\App\\|1|64|D:AI(A;OICI;FA;;;BA)*"
                              L"C:\\App\\a.txt|1|0|D:(A;;FA;;;BA)|extra*" // five fields
                              L"C:\\App\\b.txt|1|0*"                      // three
                              L"C:\\App\\c.txt|2|0|D:(A;;FA;;;BA)*"       // no such type
                              L"C:\\App\\d.txt|1|16|D:(A;;FA;;;BA)*"      // no such view
                              L"C:\\App\\e.txt|1|0|not a descriptor*"
                              L"C:\\App\\f.txt|1|0|D:NO_ACCESS_CONTROL";
    RestoreAccessLists(security, security, data);
    EXPECT_EQ((std::vector<Call>{{L"MACHINE\\Software\\A", SE_REGISTRY_KEY, protectedList},
                                 {L"MACHINE\\Software\\B", SE_REGISTRY_WOW64_32KEY, inheriting},
                                 {L"C:\\App\\", SE_FILE_OBJECT, inheriting},
                                 {L"C:\\App\\f.txt", SE_FILE_OBJECT, inheriting}}),
              g_writes);
    EXPECT_EQ((std::vector<std::wstring>{
                  L"Restored access list of 'MACHINE\\Software\\A'", L"Restored access list of 'MACHINE\\Software\\B'",
                  L"Restored access list of 'C:\\App\\'", L"Rollback record 4 contains invalid data",
                  L"Rollback record 5 contains invalid data", L"Rollback record 6 contains invalid data",
                  L"Rollback record 7 contains invalid data",
                  L"Failed to restore access list of 'C:\\App\\e.txt', error 0x00000057",
                  L"Restored access list of 'C:\\App\\f.txt'"}),
              security.lines);
}

// The native view of a file is reached with redirection off, just around the call.
TEST(Rollback, FilesOfTheNativeViewAreReachedWithoutRedirection)
{
    Security security;
    security.m_pfnGetNamedSecurityInfoW = &RecordingGet;
    security.m_pfnSetNamedSecurityInfoW = &RecordingSet;
    scoped_kernel_stubs wow64{stub("IsWow64Process", Wow64), stub("Wow64DisableWow64FsRedirection", RedirectionDisable),
                              stub("Wow64RevertWow64FsRedirection", RedirectionRevert)};
    const struct {
        LockObjectKind kind;
        DWORD flags;
        std::vector<std::string> redirection;
    } rows[] = {
        {LockObjectKind::File, 0x08, {"off", "1 calls, on"}},
        {LockObjectKind::CreateFolder, 0x16, {}},
        {LockObjectKind::Registry, 0x08, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "kind " << int(row.kind) << ", flags " << row.flags);
        g_reads.clear();
        g_writes.clear();
        g_redirection.clear();
        CAccessListCapture capture(security, security);
        capture.Capture(MakeItem(L"C:\\Program Files\\App\\x", row.kind, L"", L"Users", 1, row.flags));
        EXPECT_EQ(row.redirection, g_redirection) << "capture";
        g_reads.clear();
        g_redirection.clear();
        RestoreAccessLists(security, security, capture.Data());
        EXPECT_EQ(row.redirection, g_redirection) << "restore";
    }
}

} // namespace
