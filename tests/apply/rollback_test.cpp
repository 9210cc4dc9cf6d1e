// Capturing access lists for a rollback and putting them back, at the security calls:
// what Wine cannot show (the end-to-end tests roll a real key back).
#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include "RecordingLog.h"
#include "SecurityTestSupport.h"
#include "apply/Rollback.h"
#include "kernel_stubs.h"

using namespace qxtest;

namespace {

// Every read: the name, the type it was asked with, and "-" when redirection was
// off. Any object reads as Administrators' full control, or fails with g_readResult.
std::vector<std::wstring> g_reads;
DWORD g_readResult = ERROR_SUCCESS;

DWORD WINAPI RecordingGet(LPCWSTR name, SE_OBJECT_TYPE type, SECURITY_INFORMATION, PSID*, PSID*, PACL* dacl, PACL*,
                          PSECURITY_DESCRIPTOR* descriptor)
{
    g_reads.push_back(std::wstring(name) + L"|" + std::to_wstring(type) + (scoped_wow64::off() ? L"-" : L""));
    if (g_readResult != ERROR_SUCCESS) {
        return g_readResult;
    }
    BOOL present = FALSE, defaulted = FALSE;
    ::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;;KA;;;BA)", SDDL_REVISION_1, descriptor, nullptr);
    ::GetSecurityDescriptorDacl(*descriptor, &present, dacl, &defaulted);
    return ERROR_SUCCESS;
}

// A file or folder of the native view is read with redirection off, as a 32-bit
// library on 64-bit Windows must.
TEST(Rollback, CapturesWhatExistsAndCanBeReadInTheRoutesView)
{
    CSecurityFunctions security;
    security.m_pfnGetNamedSecurityInfoW = &RecordingGet;
    scoped_wow64 wow64;
    const struct {
        const wchar_t* object;
        LockObjectKind kind;
        DWORD flags, readResult;
        const wchar_t* read;
        std::wstring record; // empty: none
        std::wstring line;   // empty: none
    } rows[] = {{L"MACHINE\\A", LockObjectKind::Registry, 0x08, 0, L"4", L"MACHINE\\A|4|0|D:(A;;KA;;;BA)", L""},
                {L"MACHINE\\B", LockObjectKind::Registry, 0x16, 0, L"12", L"MACHINE\\B|4|32|D:(A;;KA;;;BA)", L""},
                {L"C:\\App\\a.txt", LockObjectKind::File, 0x16, 0, L"1", L"C:\\App\\a.txt|1|0|D:(A;;KA;;;BA)", L""},
                {L"C:\\App\\", LockObjectKind::CreateFolder, 0x08, 0, L"1-", L"C:\\App\\|1|64|D:(A;;KA;;;BA)", L""},
                // Made by this installation: the installer removes it, list and all.
                {L"C:\\App\\b.txt", LockObjectKind::File, 0x08, ERROR_FILE_NOT_FOUND, L"1-", L"", L""},
                {L"C:\\New\\", LockObjectKind::CreateFolder, 0x08, ERROR_PATH_NOT_FOUND, L"1-", L"", L""},
                // A service has no view: even a 32-bit component's is read as it is named.
                {L"QXService", LockObjectKind::Service, 0x16, 0, L"2", L"QXService|2|0|D:(A;;KA;;;BA)", L""},
                {L"QXNewService", LockObjectKind::Service, 0x08, ERROR_SERVICE_DOES_NOT_EXIST, L"2", L"", L""},
                {L"C:\\App\\c.txt", LockObjectKind::File, 0x16, ERROR_ACCESS_DENIED, L"1", L"",
                 L"No rollback for 'C:\\App\\c.txt': its access list cannot be read, error 0x00000005"},
                {L"CLASSES_ROOT\\*\\x", LockObjectKind::Registry, 0x08, 0, L"4", L"",
                 L"No rollback for 'CLASSES_ROOT\\*\\x': its name or access list holds '*' or '|'"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::PrintToString(row.object));
        g_reads.clear();
        g_readResult = row.readResult;
        RecordingLog log;
        CAccessListCapture capture(security, log);
        capture.Capture(MakeItem(row.object, row.kind, L"Users", 1, row.flags));
        EXPECT_EQ(row.record, capture.Data().str());
        EXPECT_EQ(row.line.empty() ? std::vector<std::wstring>{} : std::vector<std::wstring>{row.line}, log.lines);
        EXPECT_EQ(std::vector<std::wstring>{row.object + (L"|" + std::wstring(row.read))}, g_reads);
    }
    g_readResult = ERROR_SUCCESS;
    // Two rows on one key: the first capture holds the list as it was; the other view is another key.
    RecordingLog log;
    CAccessListCapture capture(security, log);
    g_reads.clear();
    for (const DWORD flags : {0x08, 0x08, 0x16}) {
        capture.Capture(MakeItem(L"MACHINE\\A", LockObjectKind::Registry, L"Users", 1, flags));
    }
    EXPECT_EQ(L"MACHINE\\A|4|0|D:(A;;KA;;;BA)*MACHINE\\A|4|32|D:(A;;KA;;;BA)", capture.Data().str());
    EXPECT_EQ(2u, g_reads.size());
    EXPECT_EQ(0, scoped_wow64::off());
}

TEST(Rollback, PutsBackEachRecordWithItsProtectionAndPassesOverBadOnes)
{
    CSecurityFunctions security;
    RecordWrites(security, false);
    scoped_wow64 wow64;
    RecordingLog log;
    RestoreAccessLists(
        security, log,
        L"MACHINE\\A|4|0|D:P(A;;KA;;;BA)*MACHINE\\B|4|32|D:(A;;KA;;;BA)*C:\\App\\|1|64|D:AI(A;OICI;FA;;;BA)*"
        L"C:\\a|1|0|D:(A;;FA;;;BA)|extra*C:\\b|1|0*C:\\c|3|0|D:(A;;FA;;;BA)*C:\\d|1|16|D:(A;;FA;;;BA)*"
        L"C:\\e|1|0|not a descriptor*QXService|2|0|D:(A;;CCLCSWRPWPDTLOCRRC;;;BU)");
    const SECURITY_INFORMATION kept = DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION;
    const SECURITY_INFORMATION inheriting = DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION;
    EXPECT_EQ((std::vector<SecurityWrite>{{L"MACHINE\\A", SE_REGISTRY_KEY, kept, L"D:(A;;KA;;;BA)"},
                                          {L"MACHINE\\B", SE_REGISTRY_WOW64_32KEY, inheriting, L"D:(A;;KA;;;BA)"},
                                          {L"C:\\App\\", SE_FILE_OBJECT, inheriting, L"D:(A;OICI;FA;;;BA)", true},
                                          {L"QXService", SE_SERVICE, inheriting, L"D:(A;;CCLCSWRPWPDTLOCRRC;;;BU)"}}),
              RecordedWrites());
    EXPECT_EQ(
        (std::vector<std::wstring>{
            L"Restored access list of 'MACHINE\\A'", L"Restored access list of 'MACHINE\\B'",
            L"Restored access list of 'C:\\App\\'", L"Rollback record 4 contains invalid data",
            L"Rollback record 5 contains invalid data", L"Rollback record 6 contains invalid data",
            L"Rollback record 7 contains invalid data", L"Failed to restore access list of 'C:\\e', error 0x00000057",
            L"Restored access list of 'QXService'"}),
        log.lines);
}

} // namespace
