// The apply driver on a real manager, with a session from a package made here.
// The error prompt is answered through the manager's message seam; the log is
// read through an external UI handler.
#include <gtest/gtest.h>

#include <deque>

#include "apply/ApplyTestSupport.h"
#include "entry/LockPermissionsManager.h"
#include "msi/MsiHandle.h"

using namespace applytest;

namespace {

// A package with nothing but the properties a session needs.
class TestPackage {
public:
    TestPackage()
    {
        wchar_t folder[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, folder);
        m_path = std::wstring(folder) + L"qxlock-driver-test.msi";
        ::DeleteFileW(m_path.c_str());
        {
            CMsiHandle database;
            EXPECT_EQ(::MsiOpenDatabaseW(m_path.c_str(), MSIDBOPEN_CREATE, database.put()), 0u);
            Run(database, L"CREATE TABLE `Property` (`Property` CHAR(72) NOT NULL, `Value` CHAR(0) NOT NULL "
                          L"PRIMARY KEY `Property`)");
            const wchar_t* properties[][2] = {
                {L"ProductCode", L"{6D1E3C2A-0B7F-4E52-9A41-3C5D2F8B7E10}"},
                {L"ProductName", L"QXLock driver test"},
                {L"ProductVersion", L"1.0.0"},
                {L"ProductLanguage", L"1033"},
                {L"Manufacturer", L"Qelmora"},
            };
            for (const auto& property : properties) {
                Run(database, (L"INSERT INTO `Property` (`Property`, `Value`) VALUES ('" +
                               std::wstring(property[0]) + L"', '" + property[1] + L"')")
                                  .c_str());
            }
            CMsiHandle summary;
            EXPECT_EQ(::MsiGetSummaryInformationW(database, nullptr, 4, summary.put()), 0u);
            ::MsiSummaryInfoSetPropertyW(summary, PIDSI_TEMPLATE, VT_LPSTR, 0, nullptr, L"x64;1033");
            ::MsiSummaryInfoSetPropertyW(summary, PIDSI_REVNUMBER, VT_LPSTR, 0, nullptr,
                                         L"{0F1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D}");
            ::MsiSummaryInfoSetPropertyW(summary, PIDSI_PAGECOUNT, VT_I4, 200, nullptr, nullptr);
            ::MsiSummaryInfoSetPropertyW(summary, PIDSI_WORDCOUNT, VT_I4, 2, nullptr, nullptr);
            ::MsiSummaryInfoPersist(summary);
            EXPECT_EQ(::MsiDatabaseCommit(database), 0u);
        }
        ::MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
        EXPECT_EQ(::MsiOpenPackageW(m_path.c_str(), m_session.put()), 0u);
    }

    ~TestPackage()
    {
        m_session.reset();
        ::DeleteFileW(m_path.c_str());
    }

    MSIHANDLE Session() const { return m_session; }

private:
    static void Run(MSIHANDLE database, const wchar_t* query)
    {
        CMsiHandle view;
        EXPECT_EQ(::MsiDatabaseOpenViewW(database, query, view.put()), 0u);
        EXPECT_EQ(::MsiViewExecute(view, 0), 0u);
    }

    std::wstring m_path;
    CMsiHandle m_session;
};

// What the prompt stand-in answers and what it was asked.
struct Prompt {
    INSTALLMESSAGE type;
    int messageId;
    std::wstring objectName;
    std::wstring systemText;
    int error;
};
std::deque<int> g_answers;
std::vector<Prompt> g_prompts;

std::wstring Field(MSIHANDLE record, UINT field)
{
    wchar_t text[2048] = {};
    DWORD size = 2048;
    ::MsiRecordGetStringW(record, field, text, &size);
    return text;
}

int WINAPI AnsweringProcessMessage(MSIHANDLE session, INSTALLMESSAGE type, MSIHANDLE record)
{
    if ((type & 0xFF000000) != INSTALLMESSAGE_ERROR) {
        return ::MsiProcessMessage(session, type, record);
    }
    g_prompts.push_back({type, ::MsiRecordGetInteger(record, 1), Field(record, 2), Field(record, 3),
                         ::MsiRecordGetInteger(record, 4)});
    int answer = g_answers.empty() ? 0 : g_answers.front();
    if (!g_answers.empty()) {
        g_answers.pop_front();
    }
    return answer;
}

// The object whose security cannot be read, and how many more times it fails.
std::wstring g_failingObject;
int g_failuresLeft = 0;
std::vector<std::wstring> g_attempts;

DWORD WINAPI FailingGetNamedSecurityInfoW(LPCWSTR name, SE_OBJECT_TYPE type, SECURITY_INFORMATION information,
                                          PSID* owner, PSID* group, PACL* dacl, PACL* sacl,
                                          PSECURITY_DESCRIPTOR* descriptor)
{
    g_attempts.push_back(name);
    if (name == g_failingObject && g_failuresLeft > 0) {
        --g_failuresLeft;
        return ERROR_FILE_NOT_FOUND;
    }
    return ::GetNamedSecurityInfoW(name, type, information, owner, group, dacl, sacl, descriptor);
}

std::vector<std::wstring> g_log;

INT CALLBACK RecordLog(LPVOID, UINT type, LPCWSTR message)
{
    if ((type & 0xFF000000) == INSTALLMESSAGE_INFO && message) {
        g_log.push_back(message);
    }
    return 0;
}

bool HasEveryoneRead(const TestKey& key)
{
    for (const Ace& ace : key.ReadDacl()) {
        if (ace.sid == L"S-1-1-0" && ace.type == ACCESS_ALLOWED_ACE_TYPE && ace.mask == static_cast<DWORD>(KEY_READ)) {
            return true;
        }
    }
    return false;
}

} // namespace

TEST(ApplyDriver, AnswersDecideAboutFailedItems)
{
    const LockObjectKind kRegistry = LockObjectKind::Registry;
    const struct {
        const char* name;
        std::deque<int> answers;
        int failures;
        LockObjectKind secondKind;
        DWORD secondFlags;
        DWORD expected;
        bool applied[3];
        std::size_t prompts;
    } rows[] = {
        {"ignore goes on", {IDIGNORE}, 100, kRegistry, 0x08, 0, {true, false, true}, 1},
        {"retry repeats until success", {IDRETRY, IDRETRY}, 2, kRegistry, 0x08, 0, {true, true, true}, 2},
        {"abort stops", {IDABORT}, 100, kRegistry, 0x08, 1603, {true, false, false}, 1},
        {"no answer stops", {0}, 100, kRegistry, 0x08, 1603, {true, false, false}, 1},
        {"an answer not offered stops", {IDCANCEL}, 100, kRegistry, 0x08, 1603, {true, false, false}, 1},
        // On a registry item 0x04 would mean the helper; the stand-in fails the name whatever its kind.
        {"ignore-failure items never prompt", {}, 100, LockObjectKind::File, 0x0C, 0, {true, false, true}, 0},
    };
    TestPackage package;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TestKey first(L"First"), second(L"Second"), third(L"Third");
        CQxLockPermissionsManager manager(package.Session());
        manager.m_pfnProcessMessage = &AnsweringProcessMessage;
        manager.m_pfnGetNamedSecurityInfoW = &FailingGetNamedSecurityInfoW;
        const TestKey* keys[] = {&first, &second, &third};
        for (const TestKey* key : keys) {
            bool isSecond = key == &second;
            manager.m_finalPermissionsItems.push_back(MakeItem(key->ObjectName(), isSecond ? row.secondKind : kRegistry,
                                                               L"", L"Everyone", KEY_READ,
                                                               isSecond ? row.secondFlags : 0x08));
        }
        g_failingObject = second.ObjectName();
        g_failuresLeft = row.failures;
        g_answers = row.answers;
        g_prompts.clear();
        g_attempts.clear();
        g_log.clear();
        INSTALLUI_HANDLERW previous = ::MsiSetExternalUIW(&RecordLog, INSTALLLOGMODE_INFO, nullptr);

        EXPECT_EQ(manager.ApplyPermissionsItems(), row.expected);

        ::MsiSetExternalUIW(previous, 0, nullptr);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(HasEveryoneRead(*keys[i]), row.applied[i]) << "item " << i + 1;
        }
        ASSERT_EQ(g_prompts.size(), row.prompts);
        for (const Prompt& prompt : g_prompts) {
            EXPECT_EQ(static_cast<unsigned>(prompt.type), 0x01000032u);
            EXPECT_EQ(prompt.messageId, 27555);
            EXPECT_EQ(prompt.objectName, second.ObjectName());
            EXPECT_EQ(prompt.error, 2);
            EXPECT_FALSE(prompt.systemText.empty());
        }
        // Every failure is logged once by the driver, whether prompted or not.
        std::size_t failureLines = 0;
        const std::wstring failureLine =
            L"Failed to apply permissions for object '" + second.ObjectName() + L"', error 0x00000002";
        for (const std::wstring& line : g_log) {
            failureLines += line.find(failureLine) != std::wstring::npos ? 1 : 0;
        }
        EXPECT_EQ(failureLines, std::min<std::size_t>(row.failures, row.prompts ? row.prompts : 1));
        // The third item is never even read after a stop.
        bool thirdTried = std::find(g_attempts.begin(), g_attempts.end(), third.ObjectName()) != g_attempts.end();
        EXPECT_EQ(thirdTried, row.applied[2]);
    }
}

TEST(ApplyDriver, EmptyListSucceedsWithoutPrompt)
{
    TestPackage package;
    CQxLockPermissionsManager manager(package.Session());
    manager.m_pfnProcessMessage = &AnsweringProcessMessage;
    g_prompts.clear();
    EXPECT_EQ(manager.ApplyPermissionsItems(), 0u);
    EXPECT_TRUE(g_prompts.empty());
}
