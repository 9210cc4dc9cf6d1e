// The install action's loop over items applied by a script of results: the answers
// to failures, the prompt (through a real session to an external user interface,
// whose answer Wine returns when the package words the message), and redirection.
#include <deque>
#include <map>

#include "InstallerFixture.h"
#include "RecordingLog.h"
#include "SecurityTestSupport.h"
#include "apply/AccessEntries.h"
#include "apply/ApplyDriver.h"
#include "kernel_stubs.h"

using namespace qxtest;

namespace {

// Each prompt as "type|message|object|system text|error", answered in turn (then 0).
std::deque<int> g_answers;
std::vector<std::wstring> g_prompts;

int WINAPI Answer(LPVOID, UINT type, MSIHANDLE record)
{
    std::wstring prompt = std::to_wstring(type);
    for (UINT field = 1; field <= 4; ++field) {
        wchar_t text[2048] = {};
        DWORD size = 2048;
        ::MsiRecordGetStringW(record, field, text, &size);
        prompt += std::wstring(L"|") + text;
    }
    g_prompts.push_back(prompt);
    const int answer = g_answers.empty() ? 0 : g_answers.front();
    if (!g_answers.empty()) {
        g_answers.pop_front();
    }
    return answer;
}

class DriverTest : public InstallerTest {
protected:
    void SetUp() override
    {
        PackageBuilder builder;
        builder.Rows(L"Error", {{27555, L"Could not set permissions on [2]: [3] (error [4])."}});
        ASSERT_NO_FATAL_FAILURE(StartSession(builder));
        ASSERT_EQ(0u, ::MsiSetExternalUIRecord(&Answer, INSTALLLOGMODE_ERROR, nullptr, &m_previous));
    }
    void TearDown() override
    {
        ::MsiSetExternalUIRecord(m_previous, 0, nullptr, nullptr);
        InstallerTest::TearDown();
    }

    // Applies the items, item i failing with failures[i] as often as given; the
    // names of the items applied, in order, with "-" for a switch-off in force.
    DWORD Run(const std::vector<PermissionsItem>& items, std::map<std::wstring, std::deque<DWORD>> failures,
              std::deque<int> answers, std::vector<std::wstring>& applied)
    {
        g_answers = std::move(answers);
        g_prompts.clear();
        m_lines.lines.clear();
        const bool applyAll =
            ApplyPermissionsItems(Session(), m_lines, items, L"C:\\Windows\\System32", [&](const PermissionsItem& i) {
                applied.push_back(i.m_strObjectName.str() + (scoped_wow64::off() ? L"-" : L""));
                std::deque<DWORD>& results = failures[i.m_strObjectName.str()];
                if (!results.empty()) {
                    const DWORD result = results.front();
                    results.pop_front();
                    throw qx::error(result, _stringx<>());
                }
            });
        return applyAll ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
    }

    RecordingLog m_lines;
    INSTALLUI_HANDLER_RECORD m_previous = nullptr;
};

TEST_F(DriverTest, AnswersDecideAboutEachFailure)
{
    const std::vector<PermissionsItem> items = {MakeItem(L"A", LockObjectKind::Registry, L"Users", 1, 0x08),
                                                MakeItem(L"B", LockObjectKind::Registry, L"Users", 1, 0x08),
                                                MakeItem(L"C", LockObjectKind::Registry, L"Users", 1, 0x08)};
    const std::deque<DWORD> always(9, ERROR_ACCESS_DENIED);
    const struct {
        const char* name;
        std::map<std::wstring, std::deque<DWORD>> failures;
        std::deque<int> answers;
        DWORD result;
        std::vector<std::wstring> applied;
    } rows[] = {{"ignore goes on", {{L"B", always}}, {IDIGNORE}, 0, {L"A", L"B", L"C"}},
                {"retry until it works", {{L"B", {5, 5}}}, {IDRETRY, IDRETRY}, 0, {L"A", L"B", L"B", L"B", L"C"}},
                {"abort stops", {{L"B", always}}, {IDABORT}, 1603, {L"A", L"B"}},
                {"no answer stops", {{L"B", always}}, {0}, 1603, {L"A", L"B"}},
                {"an error stops", {{L"B", always}}, {-1}, 1603, {L"A", L"B"}},
                {"a button not offered stops", {{L"B", always}}, {IDOK}, 1603, {L"A", L"B"}},
                {"an ignored failure, then one that is aborted",
                 {{L"A", always}, {L"C", always}},
                 {IDIGNORE, IDABORT},
                 1603,
                 {L"A", L"B", L"C"}}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<std::wstring> applied;
        EXPECT_EQ(row.result, Run(items, row.failures, row.answers, applied));
        EXPECT_EQ(row.applied, applied);
        EXPECT_EQ(row.answers.size(), g_prompts.size());
        EXPECT_EQ(g_prompts.size(), m_lines.lines.size()) << "one line per failure";
    }
}

// An item that says "ignore failure" is let go without asking; a relative name
// fails before it is applied at all.
TEST_F(DriverTest, FailuresAreLoggedAndPutWithTheObjectAndTheSystemsText)
{
    const std::vector<PermissionsItem> items = {MakeItem(L"A", LockObjectKind::Registry, L"Users", 1, 0x0C),
                                                MakeItem(L"a.dll", LockObjectKind::File, L"Users", 1, 0x08),
                                                MakeItem(L"C", LockObjectKind::Registry, L"Users", 1, 0x08)};
    std::vector<std::wstring> applied;
    EXPECT_EQ(0u, Run(items, {{L"A", {ERROR_ACCESS_DENIED}}}, {IDIGNORE}, applied));
    EXPECT_EQ((std::vector<std::wstring>{L"A", L"C"}), applied);
    EXPECT_EQ((std::vector<std::wstring>{L"Failed to apply permissions for object 'A', error 0x00000005",
                                         L"Failed to apply permissions for object 'a.dll', error 0x0000007b"}),
              m_lines.lines);
    wchar_t systemText[1040] = {};
    ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, ERROR_INVALID_NAME, 0,
                     systemText, 1040, nullptr);
    // An error with Abort, Retry and Ignore and a warning icon, worded by the package's message 27555.
    EXPECT_EQ(std::vector<std::wstring>{std::to_wstring(0x01000032) + L"|27555|a.dll|" + systemText + L"|123"},
              g_prompts);
}

using unique_service = qx::unique_any<SC_HANDLE, &::CloseServiceHandle>;

// Services applied for real by their names: one made for the test (demand start,
// never started) is locked without a failure line; a missing one fails with the
// code the security call gives (1060) and is put to the user, or let go with flag
// 4, like any object. Wine stores no list for a service (writes succeed, reads
// give an empty one), so the merged list is checked as it reaches
// SetNamedSecurityInfoW. The service's handle stays open: Wine's service manager
// finds a service made at run time whose handles are all closed only on every
// other lookup, and answers 1060 in between.
TEST_F(DriverTest, ServicesAreLockedByNameAndAMissingOneFailsWithItsCode)
{
    wchar_t image[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, image, MAX_PATH);
    const unique_service manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    const unique_service service(::CreateServiceW(
        manager.get(), L"QXLockTestService", L"QXLockTestService", SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
        SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE, image, nullptr, nullptr, nullptr, nullptr, nullptr));
    ASSERT_TRUE(service) << ::GetLastError();
    CSecurityFunctions security;
    RecordWrites(security);
    const DWORD startStopQuery = SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS;
    std::vector<PermissionsItem> items;
    for (const DWORD flags : {0x08, 0x0C, 0x08}) {
        items.push_back(MakeItem(items.empty() ? L"QXLockTestService" : L"QXNoSuchService", LockObjectKind::Service,
                                 L"Users", startStopQuery, flags));
    }
    g_answers = {IDIGNORE};
    g_prompts.clear();
    EXPECT_TRUE(
        ApplyPermissionsItems(Session(), m_lines, items, L"C:\\Windows\\System32",
                              [&](const PermissionsItem& item) { ApplyItemInProcess(security, m_lines, item); }));
    ::DeleteService(service.get());
    std::vector<std::wstring> lines = {L"Getting existing security descriptor for 'QXLockTestService'",
                                       L"Setting new security descriptor for 'QXLockTestService'"};
    for (int twice = 0; twice < 2; ++twice) {
        lines.insert(lines.end(), {L"Getting existing security descriptor for 'QXNoSuchService'",
                                   L"Failed to obtain existing security descriptor, last error: 0x00000424",
                                   L"Failed to apply permissions for object 'QXNoSuchService', error 0x00000424"});
    }
    EXPECT_EQ(lines, m_lines.lines);
    // The entry alone (Wine read the service's list as empty), inheriting nothing.
    EXPECT_EQ((std::vector<SecurityWrite>{
                  {L"QXLockTestService", SE_SERVICE, DACL_SECURITY_INFORMATION, L"D:(A;;LCRPWP;;;BU)"}}),
              RecordedWrites());
    ASSERT_EQ(1u, g_prompts.size());
    EXPECT_EQ(0u, g_prompts[0].rfind(std::to_wstring(0x01000032) + L"|27555|QXNoSuchService|", 0)) << g_prompts[0];
    EXPECT_EQ(L"|1060", g_prompts[0].substr(g_prompts[0].rfind(L'|')));
}

// Redirection is off around each file or folder of the native view, and back on after.
TEST_F(DriverTest, FilesOfTheNativeViewAreAppliedWithRedirectionOff)
{
    scoped_wow64 wow64;
    const std::vector<PermissionsItem> items = {
        MakeItem(L"C:\\App\\a.dll", LockObjectKind::File, L"Users", 1, 0x08),
        MakeItem(L"C:\\App\\", LockObjectKind::CreateFolder, L"Users", 1, 0x16),
        MakeItem(L"C:\\Windows\\System32\\b.dll", LockObjectKind::File, L"Users", 1, 0x16),
        MakeItem(L"MACHINE\\Software\\A", LockObjectKind::Registry, L"Users", 1, 0x08),
        MakeItem(L"C:\\App\\Data\\", LockObjectKind::CreateFolder, L"Users", 1, 0x08)};
    std::vector<std::wstring> applied;
    EXPECT_EQ(0u, Run(items, {}, {}, applied));
    EXPECT_EQ((std::vector<std::wstring>{L"C:\\App\\a.dll-", L"C:\\App\\", L"C:\\Windows\\System32\\b.dll-",
                                         L"MACHINE\\Software\\A", L"C:\\App\\Data\\-"}),
              applied);
    EXPECT_EQ(0, scoped_wow64::off());
}

} // namespace
