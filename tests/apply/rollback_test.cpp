// Capturing access lists for a rollback and putting them back: registry keys of
// both views in the registry itself, files and folders by their identity, and at
// the security calls what Wine cannot store (a null DACL, a file's list).
#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include "RecordingLog.h"
#include "ScratchFolder.h"
#include "SecurityTestSupport.h"
#include "apply/Rollback.h"
#include "kernel_stubs.h"

using namespace qxtest;

namespace {

using Lines = std::vector<std::wstring>;

// Every named read: the name and the type it was asked with. Any object reads as
// g_readList (empty: a descriptor without a DACL; null: a null DACL, which Wine's
// parser of the text cannot make), or fails with g_readResult.
std::vector<std::wstring> g_reads;
DWORD g_readResult = ERROR_SUCCESS;
const wchar_t* g_readList = L"";

DWORD WINAPI RecordingGet(LPCWSTR name, SE_OBJECT_TYPE type, SECURITY_INFORMATION, PSID*, PSID*, PACL* dacl, PACL*,
                          PSECURITY_DESCRIPTOR* descriptor)
{
    g_reads.push_back(std::wstring(name) + L"|" + std::to_wstring(type));
    if (g_readResult != ERROR_SUCCESS) {
        return g_readResult;
    }
    if (!g_readList) {
        *descriptor = ::LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH);
        ::InitializeSecurityDescriptor(*descriptor, SECURITY_DESCRIPTOR_REVISION);
        ::SetSecurityDescriptorDacl(*descriptor, TRUE, nullptr, FALSE);
        *dacl = nullptr;
        return ERROR_SUCCESS;
    }
    BOOL present = FALSE, defaulted = FALSE;
    ::ConvertStringSecurityDescriptorToSecurityDescriptorW(g_readList, SDDL_REVISION_1, descriptor, nullptr);
    ::GetSecurityDescriptorDacl(*descriptor, &present, dacl, &defaulted);
    return ERROR_SUCCESS;
}

std::wstring Capture(CSecurityFunctions& security, RecordingLog& log, const PermissionsItem& item)
{
    CAccessListCapture capture(security, log);
    capture.Capture(item);
    return capture.Data().str();
}

// What is saved, in the shape the rollback action can put back exactly; what the
// install action will not change is not read at all: a key for the helper that a
// 64-bit library does not carry, a file it refuses for its relative name, a folder
// made by this installation.
TEST(Rollback, CapturesEveryListShapeOfWhatTheInstallActionChanges)
{
    CSecurityFunctions security;
    security.m_pfnGetNamedSecurityInfoW = &RecordingGet;
    const struct {
        const wchar_t* object;
        LockObjectKind kind;
        DWORD flags, readResult;
        const wchar_t* list;
        std::wstring record; // empty: none
        std::wstring line;   // empty: none
        bool read = true;
    } rows[] = {
        {L"MACHINE\\A", LockObjectKind::Registry, 0x08, 0, L"D:P(A;;KA;;;BA)", L"MACHINE\\A|4|0||D:P(A;;KA;;;BA)", L""},
        // A null DACL is a list too, and is put back as one.
        {L"MACHINE\\N", LockObjectKind::Registry, 0x08, 0, nullptr, L"MACHINE\\N|4|0||D:NO_ACCESS_CONTROL", L""},
        {L"MACHINE\\E", LockObjectKind::Registry, 0x08, 0, L"", L"",
         L"No rollback for 'MACHINE\\E': its security descriptor has no access list"},
        {L"MACHINE\\D", LockObjectKind::Registry, 0x08, ERROR_ACCESS_DENIED, L"", L"",
         L"No rollback for 'MACHINE\\D': its access list cannot be read, error 0x00000005"},
        {L"MACHINE\\*\\x", LockObjectKind::Registry, 0x08, 0, L"D:(A;;KA;;;BA)", L"",
         L"No rollback for 'MACHINE\\*\\x': its name or access list holds '*' or '|'"},
        // A service has no view: even a 32-bit component's is read as it is named.
        {L"QXService", LockObjectKind::Service, 0x16, 0, L"D:(A;;KA;;;BA)", L"QXService|2|0||D:(A;;KA;;;BA)", L""},
        {L"QXNewService", LockObjectKind::Service, 0x08, ERROR_SERVICE_DOES_NOT_EXIST, L"", L"", L""},
        {L"MACHINE\\B", LockObjectKind::Registry, 0x16, 0, L"D:(A;;KA;;;BA)", L"", L"", false},
        {L"App\\a.txt", LockObjectKind::File, 0x08, 0, L"D:(A;;KA;;;BA)", L"", L"", false},
        {L"C:\\QXNoSuchFolder\\", LockObjectKind::CreateFolder, 0x08, 0, L"D:(A;;KA;;;BA)", L"", L"", false},
    };
    RecordingLog log;
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::PrintToString(row.object));
        g_reads.clear();
        g_readResult = row.readResult;
        g_readList = row.list;
        log.lines.clear();
        EXPECT_EQ(row.record, Capture(security, log, MakeItem(row.object, row.kind, L"Users", 1, row.flags)));
        EXPECT_EQ(row.line.empty() ? Lines{} : Lines{row.line}, log.lines);
        const std::wstring read = row.object + (L"|" + std::to_wstring(ObjectTypeForKind(row.kind)));
        EXPECT_EQ(row.read ? Lines{read} : Lines{}, g_reads);
    }

    // Two rows on one key: the first capture holds the list as it was.
    CAccessListCapture capture(security, log);
    for (int row = 0; row < 2; ++row) {
        capture.Capture(MakeItem(L"MACHINE\\A", LockObjectKind::Registry, L"Users", 1, 0x08));
    }
    EXPECT_EQ(L"MACHINE\\A|4|0||D:(A;;KA;;;BA)", capture.Data().str());
    EXPECT_EQ(1u, g_reads.size());
}

// The 32-bit library reaches keys of 32-bit components through its helper: their
// lists are saved and put back in the 32-bit view, and the 64-bit key of the same
// name is left alone.
TEST(Rollback, KeysOfThe32BitViewAreSavedAndPutBackThere)
{
    // Wine keeps a key's list exactly, but for its protection flag.
    TestKey key32(L"Rollback", L"D:(A;OICI;KA;;;BA)(A;OICI;KR;;;BU)", KeyHive::Machine32);
    TestKey key64(L"Rollback", L"D:(A;OICI;KA;;;SY)", KeyHive::Machine64);
    CSecurityFunctions security;
    RecordingLog log;
    std::wstring data;
    {
        scoped_wow64 wow64; // a 32-bit library on 64-bit Windows, which carries the helper
        data = Capture(security, log, MakeItem(key32.Name(), LockObjectKind::Registry, L"Users", 1, 0x16));
    }
    EXPECT_EQ(key32.Name() + L"|4|32||D:(A;OICI;KA;;;BA)(A;OICI;KR;;;BU)", data);

    ASSERT_TRUE(key32.SetDacl(L"D:(A;OICI;KA;;;BA)"));
    ASSERT_TRUE(key64.SetDacl(L"D:(A;OICI;KA;;;BA)"));
    RestoreAccessLists(security, log, data.c_str());
    EXPECT_EQ(L"D:(A;OICI;KA;;;BA)(A;OICI;KR;;;BU)", key32.Dacl());
    EXPECT_EQ(L"D:(A;OICI;KA;;;BA)", key64.Dacl());
    EXPECT_EQ(Lines{L"Restored access list of '" + key32.Name() + L"'"}, log.lines);
}

// A folder renamed aside and replaced between costing and rollback keeps the list
// it has: the saved one belongs to the folder that moved. Wine keeps only mode bits
// of a folder's list, so what is written is checked at the security call.
TEST(Rollback, FilesAndFoldersArePutBackOnlyOntoTheObjectThatWasRead)
{
    ScratchFolder scratch;
    const std::wstring folder = scratch.path + L"Data\\";
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    CSecurityFunctions security;
    RecordingLog log;
    const std::wstring data = Capture(security, log, MakeItem(folder, LockObjectKind::CreateFolder, L"Users", 1, 0x08));
    ASSERT_TRUE(scratch.Holds(data, L"Data\\\\\\|1\\|64\\|[0-9a-f]{8}:[0-9a-f]{16}\\|D:.*")) << data;

    RecordWrites(security, false);
    RestoreAccessLists(security, log, data.c_str());
    ASSERT_EQ(1u, RecordedWrites().size());
    EXPECT_EQ(SE_FILE_OBJECT, RecordedWrites()[0].type);
    EXPECT_EQ(data.substr(data.rfind(L'|') + 1), RecordedWrites()[0].dacl);

    ASSERT_TRUE(::MoveFileW(folder.c_str(), (scratch.path + L"Aside").c_str()));
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    RestoreAccessLists(security, log,
                       (data + L"*" + folder + L"|1|64||D:(A;;FA;;;BA)*Data\\|1|64|0:1|D:(A;;FA;;;BA)").c_str());
    EXPECT_EQ(1u, RecordedWrites().size());
    const std::wstring unknown = L"': a file or folder is found again only by its full name and identity";
    EXPECT_EQ(
        (Lines{L"Restored access list of '" + folder + L"'",
               L"Did not restore access list of '" + folder + L"': it is no longer the object whose list was saved",
               L"Did not restore access list of '" + folder + unknown,
               L"Did not restore access list of 'Data\\" + unknown}),
        log.lines);
}

TEST(Rollback, PutsBackEachRecordWithItsProtectionAndPassesOverBadOnes)
{
    CSecurityFunctions security;
    RecordWrites(security, false);
    RecordingLog log;
    // Wine cannot store a null DACL (it writes "D:", as for an empty list), nor
    // read one from its text: that one is checked as it reaches the call.
    RestoreAccessLists(security, log,
                       L"MACHINE\\A|4|0||D:P(A;;KA;;;BA)*MACHINE\\N|4|0||D:NO_ACCESS_CONTROL*"
                       L"MACHINE\\a|4|0||D:(A;;KA;;;BA)|extra*MACHINE\\b|4|0|*MACHINE\\c|3|0||D:(A;;KA;;;BA)*"
                       L"MACHINE\\d|4|16||D:(A;;KA;;;BA)*MACHINE\\e|4|0||not a descriptor*MACHINE\\f|4|0||*"
                       L"QXService|2|0||D:(A;;CCLCSWRPWPDTLOCRRC;;;BU)");
    const SECURITY_INFORMATION kept = DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION;
    const SECURITY_INFORMATION inheriting = DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION;
    EXPECT_EQ((std::vector<SecurityWrite>{{L"MACHINE\\A", SE_REGISTRY_KEY, kept, L"D:(A;;KA;;;BA)"},
                                          {L"MACHINE\\N", SE_REGISTRY_KEY, inheriting, L"D:NO_ACCESS_CONTROL"},
                                          {L"QXService", SE_SERVICE, inheriting, L"D:(A;;CCLCSWRPWPDTLOCRRC;;;BU)"}}),
              RecordedWrites());
    EXPECT_EQ((Lines{L"Restored access list of 'MACHINE\\A'", L"Restored access list of 'MACHINE\\N'",
                     L"Rollback record 3 contains invalid data", L"Rollback record 4 contains invalid data",
                     L"Rollback record 5 contains invalid data", L"Rollback record 6 contains invalid data",
                     L"Failed to restore access list of 'MACHINE\\e', error 0x00000057",
                     L"Rollback record 8 contains invalid data", L"Restored access list of 'QXService'"}),
              log.lines);
}

} // namespace
