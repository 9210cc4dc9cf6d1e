// The install action's loop over items applied by a script of results: the answers
// to failures, the prompt (through a real session to an external user interface,
// whose answer Wine returns when the package words the message), and redirection.
#include <algorithm>
#include <deque>
#include <map>

#include "InstallerFixture.h"
#include "RecordingLog.h"
#include "ScratchFolder.h"
#include "SecurityTestSupport.h"
#include "apply/AccessEntries.h"
#include "apply/AccountResolution.h"
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

    // Applies the items: the row step of item "name/user" fails with failures["name/user"]
    // and the object step of "name" with failures["name"], each as often as given. What
    // was done, in order: "name/user" for a row, "name:user,user" for an object's
    // write, with "-" for a switch-off in force.
    DWORD Run(const std::vector<PermissionsItem>& items, std::map<std::wstring, std::deque<DWORD>> failures,
              std::deque<int> answers, std::vector<std::wstring>& done)
    {
        g_answers = std::move(answers);
        g_prompts.clear();
        m_lines.lines.clear();
        const auto step = [&](const std::wstring& name, const std::wstring& what) {
            done.push_back(what + (scoped_wow64::off() ? L"-" : L""));
            std::deque<DWORD>& results = failures[name];
            if (!results.empty()) {
                const DWORD result = results.front();
                results.pop_front();
                throw qx::error(result, _stringx<>());
            }
        };
        const ApplySteps steps = {[&](PreparedRow& row) {
                                      const std::wstring name =
                                          row.item->m_strObjectName.str() + L"/" + row.item->m_strUser.str();
                                      step(name, name);
                                  },
                                  [&](const std::vector<PreparedRow>& rows) {
                                      std::wstring users;
                                      for (const PreparedRow& row : rows) {
                                          users += (users.empty() ? L"" : L",") + row.item->m_strUser.str();
                                      }
                                      const std::wstring name = rows.front().item->m_strObjectName.str();
                                      step(name, name + L":" + users);
                                  }};
        const bool applyAll = ApplyPermissionsItems(Session(), m_lines, items, L"C:\\Windows\\System32", steps);
        return applyAll ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
    }

    RecordingLog m_lines;
    INSTALLUI_HANDLER_RECORD m_previous = nullptr;
};

// Three rows on service A (the last with flag 4; a registry row with it would go
// to the helper) and one on B: each row is prepared, then each object written
// once with the rows that were not let go.
TEST_F(DriverTest, AnswersDecideAboutEachRowAndEachObject)
{
    const std::vector<PermissionsItem> items = {MakeItem(L"A", LockObjectKind::Service, L"Users", 1, 0x08),
                                                MakeItem(L"B", LockObjectKind::Service, L"Users", 1, 0x08),
                                                MakeItem(L"A", LockObjectKind::Service, L"Guests", 1, 0x08),
                                                MakeItem(L"A", LockObjectKind::Service, L"Everyone", 1, 0x0C)};
    const std::wstring u = L"A/Users", g = L"A/Guests", e = L"A/Everyone", all = L"A:Users,Guests,Everyone",
                       b = L"B/Users", bWrite = L"B:Users";
    const std::deque<DWORD> always(9, ERROR_ACCESS_DENIED);
    const struct {
        const char* name;
        std::map<std::wstring, std::deque<DWORD>> failures;
        std::deque<int> answers;
        DWORD result;
        std::vector<std::wstring> done;
    } rows[] = {
        {"no failure", {}, {}, 0, {u, g, e, all, b, bWrite}},
        {"a row ignored is left out of the write",
         {{g, always}},
         {IDIGNORE},
         0,
         {u, g, e, L"A:Users,Everyone", b, bWrite}},
        {"a row with flag 4 is left out without asking", {{e, always}}, {}, 0, {u, g, e, L"A:Users,Guests", b, bWrite}},
        {"a row retried until it works", {{g, {5, 5}}}, {IDRETRY, IDRETRY}, 0, {u, g, g, g, e, all, b, bWrite}},
        {"a row aborted: its object is not written", {{g, always}}, {IDABORT}, 1603, {u, g}},
        {"a write retried with all its rows", {{L"A", {5}}}, {IDRETRY}, 0, {u, g, e, all, all, b, bWrite}},
        {"a write ignored goes on", {{L"A", always}}, {IDIGNORE}, 0, {u, g, e, all, b, bWrite}},
        {"no answer stops", {{L"A", always}}, {0}, 1603, {u, g, e, all}},
        {"an error stops", {{L"B", always}}, {-1}, 1603, {u, g, e, all, b, bWrite}},
        {"a button not offered stops", {{b, always}}, {IDOK}, 1603, {u, g, e, all, b}},
        {"an ignored failure, then one that is aborted",
         {{g, always}, {L"B", always}},
         {IDIGNORE, IDABORT},
         1603,
         {u, g, e, L"A:Users,Everyone", b, bWrite}}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<std::wstring> done;
        EXPECT_EQ(row.result, Run(items, row.failures, row.answers, done));
        EXPECT_EQ(row.done, done);
        EXPECT_EQ(row.answers.size() + (row.failures.count(e) ? 1 : 0), m_lines.lines.size()) << "a line a failure";
        EXPECT_EQ(row.answers.size(), g_prompts.size());
    }
}

int g_reads = 0;
DWORD WINAPI CountingGet(LPCWSTR name, SE_OBJECT_TYPE type, SECURITY_INFORMATION information, PSID* owner, PSID* group,
                         PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor)
{
    ++g_reads;
    return ::GetNamedSecurityInfoW(name, type, information, owner, group, dacl, sacl, descriptor);
}

// What the rows, merged one at a time, make of the object's list as it is now;
// empty when no row's account resolves.
std::wstring OneByOne(CSecurityFunctions& security, qx::log_sink& log, const std::vector<PermissionsItem>& rows)
{
    std::wstring name = rows.front().m_strObjectName.str();
    qx::unique_local<void> descriptor;
    PACL list = nullptr;
    ::GetNamedSecurityInfoW(&name[0], rows.front().m_objectType, DACL_SECURITY_INFORMATION, nullptr, nullptr, &list,
                            nullptr, descriptor.put());
    qx::unique_local<ACL> merged;
    for (const PermissionsItem& row : rows) {
        qx::unique_local<void> sid;
        try {
            sid = ResolveItemSid(security, log, row.m_strDomain, row.m_strUser);
        } catch (const qx::error&) {
            continue;
        }
        EXPLICIT_ACCESS_W entry = BuildExplicitAccess(row, sid.get());
        qx::unique_local<ACL> next;
        EXPECT_EQ(0u, ::SetEntriesInAclW(1, &entry, list, next.put()));
        merged = std::move(next);
        list = merged.get();
    }
    return merged ? AclText(list) : L"";
}

// Rows on a key and a folder, through the driver, against the same rows merged one
// by one into each object's list: each object is read once and written once, with
// the list of one by one. Nothing is passed on, so the objects stay as they are.
// A row whose account does not resolve is left out: answered Ignore, or with flag 4.
// (A registry row with flag 2 or 4 goes to the helper, so the key's rows have
// neither.)
TEST_F(DriverTest, ObjectsRowsInOneWriteGiveTheListOfOneByOne)
{
    const ScratchFolder scratch;
    const TestKey key(L"Rows", L"D:(A;OICI;KA;;;BA)(A;OICI;KR;;;BU)(D;OICI;KW;;;BG)");
    const std::wstring names[] = {key.Name(), scratch.path};
    const LockObjectKind kinds[] = {LockObjectKind::Registry, LockObjectKind::CreateFolder};
    const DWORD read = KEY_READ, write = KEY_SET_VALUE, all = KEY_ALL_ACCESS;
    const struct Row {
        int object; // the key or the folder
        const wchar_t* user;
        DWORD permission, flags;
    } grant = {0, L"Everyone", read, 0x08}, nobody = {0, L"NoSuchAccount", read, 0x08};
    const struct {
        const char* name;
        std::vector<Row> rows;
    } cases[] = {{"accounts of their own", {grant, {0, L"Guests", read, 0x08}, {0, L"SYSTEM", all, 0x08}}},
                 {"an account twice", {{0, L"Users", read, 0x08}, {0, L"Users", all, 0x08}}},
                 {"allow, then deny for one account", {{0, L"Users", read, 0x08}, {0, L"Users", write, 0x09}}},
                 {"deny, then allow for one account", {{0, L"Users", write, 0x09}, {0, L"Users", read, 0x08}}},
                 {"deny twice", {{0, L"Guests", write, 0x09}, {0, L"Guests", KEY_CREATE_SUB_KEY, 0x09}}},
                 {"inheritance, then none", {{1, L"Users", read, 0x08}, {1, L"Users", read, 0x0A}}},
                 {"all of it",
                  {{1, L"Everyone", read, 0x0A},
                   {1, L"Users", write, 0x09},
                   {1, L"Everyone", write, 0x0B},
                   {1, L"Users", read, 0x08}}},
                 {"two objects between each other",
                  {grant, {1, L"Users", write, 0x09}, {0, L"Guests", all, 0x08}, {1, L"Users", read, 0x08}}},
                 {"ignored rows", {nobody, grant, {1, L"NoSuchAccount", read, 0x0C}, {1, L"Users", write, 0x09}}},
                 {"every row of an object ignored", {nobody, {1, L"Users", read, 0x08}, nobody}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<PermissionsItem> items, rowsOf[2];
        std::vector<int> order; // the objects as they first appear
        for (const Row& row : c.rows) {
            items.push_back(MakeItem(names[row.object], kinds[row.object], row.user, row.permission, row.flags));
            rowsOf[row.object].push_back(items.back());
            if (std::find(order.begin(), order.end(), row.object) == order.end()) {
                order.push_back(row.object);
            }
        }
        CSecurityFunctions security;
        std::vector<SecurityWrite> expected;
        for (const int object : order) {
            const std::wstring list = OneByOne(security, m_lines, rowsOf[object]);
            if (!list.empty()) {
                expected.push_back({names[object], ObjectTypeForKind(kinds[object]), DACL_SECURITY_INFORMATION, list});
            }
        }
        RecordWrites(security, false);
        security.m_pfnGetNamedSecurityInfoW = &CountingGet;
        g_reads = 0;
        g_answers = std::deque<int>(9, IDIGNORE);
        const ApplySteps steps = {
            [&](PreparedRow& row) { row.sid = ResolveItemSid(security, m_lines, L"", row.item->m_strUser); },
            [&](const std::vector<PreparedRow>& rows) { UpdateObjectSecurity(security, m_lines, rows); }};
        EXPECT_TRUE(ApplyPermissionsItems(Session(), m_lines, items, L"C:\\Windows\\System32", steps));
        EXPECT_EQ(expected, RecordedWrites());
        EXPECT_EQ(expected.size(), static_cast<std::size_t>(g_reads));
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
    EXPECT_EQ((std::vector<std::wstring>{L"A/Users", L"A:Users", L"C/Users", L"C:Users"}), applied);
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
// code the security call gives (1060) and is put to the user once for its two
// rows, one of which alone would be let go with flag 4, like any object. Wine stores no list for a service (writes succeed, reads
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
    const ApplySteps steps = {
        [&](PreparedRow& row) { row.sid = ResolveItemSid(security, m_lines, L"", row.item->m_strUser); },
        [&](const std::vector<PreparedRow>& rows) { UpdateObjectSecurity(security, m_lines, rows); }};
    EXPECT_TRUE(ApplyPermissionsItems(Session(), m_lines, items, L"C:\\Windows\\System32", steps));
    ::DeleteService(service.get());
    std::vector<std::wstring> lines = {L"Getting existing security descriptor for 'QXLockTestService'",
                                       L"Setting new security descriptor for 'QXLockTestService'"};
    lines.insert(lines.end(), {L"Getting existing security descriptor for 'QXNoSuchService'",
                               L"Failed to obtain existing security descriptor, last error: 0x00000424",
                               L"Failed to apply permissions for object 'QXNoSuchService', error 0x00000424"});
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
    EXPECT_EQ(
        (std::vector<std::wstring>{L"C:\\App\\a.dll/Users", L"C:\\App\\a.dll:Users-", L"C:\\App\\/Users",
                                   L"C:\\App\\:Users", L"C:\\Windows\\System32\\b.dll/Users",
                                   L"C:\\Windows\\System32\\b.dll:Users-", L"MACHINE\\Software\\A/Users",
                                   L"MACHINE\\Software\\A:Users", L"C:\\App\\Data\\/Users", L"C:\\App\\Data\\:Users-"}),
        applied);
    EXPECT_EQ(0, scoped_wow64::off());
}

} // namespace
