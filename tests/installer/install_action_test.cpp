// The install action end to end: custom action data in, the DACLs of real keys
// read back out, and the prompt about a failed item answered through the
// installer's external user interface.
#include <algorithm>
#include <deque>

#include "InstallerFixture.h"
#include "apply/AccessEntries.h"
#include "apply/ApplyDriver.h"
#include "ApplyTestSupport.h"

using namespace qxtest;
using namespace applytest;

namespace {

constexpr BYTE kAllow = ACCESS_ALLOWED_ACE_TYPE;
constexpr BYTE kInherited = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
const wchar_t kEveryone[] = L"S-1-1-0";
const wchar_t kUsers[] = L"S-1-5-32-545";
const wchar_t kAdministrators[] = L"S-1-5-32-544";
const Ace kEveryoneReads = {kAllow, kInherited, KEY_READ, kEveryone};

// The DACL every test key starts with.
const std::vector<Ace> kBefore = {{kAllow, kInherited, KEY_ALL_ACCESS, kAdministrators},
                                  {kAllow, kInherited, KEY_READ, kUsers}};

// Replaces every "$" by the object's name.
std::wstring Expand(std::wstring text, const std::wstring& name)
{
    for (std::size_t at = text.find(L'$'); at != std::wstring::npos; at = text.find(L'$', at + name.size())) {
        text.replace(at, 1, name);
    }
    return text;
}

bool Holds(const TestObject& key, const Ace& ace)
{
    std::vector<Ace> dacl = key.ReadDacl();
    return std::find(dacl.begin(), dacl.end(), ace) != dacl.end();
}

const wchar_t kGetting[] = L"Getting existing security descriptor for '$'";
const wchar_t kSetting[] = L"Setting new security descriptor for '$'";
const wchar_t kAborted[] = L"Error returned from ApplyPermissionsItems: 0x00000643";

// What the prompt stand-in answers and what it was asked.
struct Prompt {
    UINT type;
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

int WINAPI AnsweringUserInterface(LPVOID, UINT type, MSIHANDLE record)
{
    EXPECT_EQ(::MsiRecordGetFieldCount(record), 4u);
    g_prompts.push_back(
        {type, ::MsiRecordGetInteger(record, 1), Field(record, 2), Field(record, 3), ::MsiRecordGetInteger(record, 4)});
    int answer = g_answers.empty() ? 0 : g_answers.front();
    if (!g_answers.empty()) {
        g_answers.pop_front();
    }
    return answer;
}

// Answers prompts while it lives.
class AnsweringScope {
public:
    explicit AnsweringScope(std::deque<int> answers)
    {
        g_answers = std::move(answers);
        g_prompts.clear();
        EXPECT_EQ(0u, ::MsiSetExternalUIRecord(&AnsweringUserInterface, INSTALLLOGMODE_ERROR, nullptr, &m_previous));
    }
    ~AnsweringScope() { ::MsiSetExternalUIRecord(m_previous, 0, nullptr, nullptr); }

private:
    INSTALLUI_HANDLER_RECORD m_previous = nullptr;
};

// The object whose security cannot be read, how many more times it fails, and every name read.
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

class InstallActionTest : public InstallerTest {
protected:
    void SetUp() override
    {
        // The package words the prompt; the installer fills in the record's fields.
        PackageBuilder builder;
        builder.Rows(L"Error", {{27555, L"Could not set permissions on [2]: [3] (error [4])."}});
        ASSERT_NO_FATAL_FAILURE(StartSession(builder));
    }

    UINT RunInstallAction(const std::wstring& data)
    {
        EXPECT_EQ(0u, SetProperty(L"CustomActionData", data));
        m_log.Clear();
        return RunExport("QXLockPermissionsInstallAction");
    }
};

} // namespace

TEST_F(InstallActionTest, ExportedActionMergesEachItemIntoTheKeysDacl)
{
    const std::wstring usersKey = L"USERS\\" + CurrentUserSid() + L"\\Software\\QXLockTests\\Item";
    const std::wstring missingFile = TemporaryPath(L"Missing.txt");
    const std::wstring failedItem = L"Failed to apply permissions for object '$', error ";
    const std::wstring failedToRead = L"Failed to obtain existing security descriptor, last error: 0x00000002";
    const struct {
        const char* name;
        std::wstring objectName; // "$" in the texts below; empty: the test key's name
        std::wstring data;
        UINT result;
        std::vector<std::wstring> messages;
        std::vector<Ace> after;
    } rows[] = {
        {"allow and deny in one text",
         L"",
         L"$|Registry||Everyone|131097|8*$|Registry|BUILTIN|Guests|2|9",
         0,
         {kGetting, kSetting, kGetting, kSetting},
         {kBefore[0],
          kBefore[1],
          kEveryoneReads,
          {ACCESS_DENIED_ACE_TYPE, kInherited, KEY_SET_VALUE, L"S-1-5-32-546"}}},
        {"set replaces the trustee's own entry only",
         L"",
         L"$|Registry||Users|983103|8",
         0,
         {kGetting, kSetting},
         {kBefore[0], {kAllow, kInherited, KEY_ALL_ACCESS, kUsers}}},
        {"the user's key under USERS, a string SID",
         usersKey,
         L"$|registry||s-1-1-0|131097|8",
         0,
         {kGetting, kSetting},
         {kBefore[0], kBefore[1], kEveryoneReads}},
        {"unknown account, nobody answers",
         L"",
         L"$|Registry||nobody-qx|131097|8",
         1603,
         {L"ResolveSidForAccountName: looking up account name 'nobody-qx'",
          L"Failed to lookup account name, last error: 0x00000534", failedItem + L"0x00000534", kAborted},
         kBefore},
        // A 64-bit library has no helper to start; 0x16 carries 0x04, so nobody is asked.
        {"32-bit component's key",
         L"",
         L"$|Registry||Everyone|131097|22",
         0,
         {L"Failed to initialize 64-bit helper, error 80070002",
          L"Failed to obtain 64-bit helper process for permission item '$', error '80070002'",
          failedItem + L"0x80070002"},
         kBefore},
        // Files of 32-bit components stay in this process.
        {"missing file, failure ignored",
         missingFile,
         L"$|File||Users|1179785|22",
         0,
         {kGetting, failedToRead, failedItem + L"0x00000002"},
         kBefore},
        {"missing file, nobody answers",
         missingFile,
         L"$|File||Users|1179785|0",
         1603,
         {kGetting, failedToRead, failedItem + L"0x00000002", kAborted},
         kBefore},
        // A name without its folder fails before anything is read or written.
        {"relative file name",
         L"Application.exe",
         L"$|File||Users|1179785|8",
         1603,
         {failedItem + L"0x0000007b", kAborted},
         kBefore},
        {"folder without a drive",
         L"\\Program Files\\App\\",
         L"$|CreateFolder||Users|1179785|4",
         0,
         {failedItem + L"0x0000007b"},
         kBefore},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TestObject key(TestObject::Kind::Key, L"Item");
        ASSERT_TRUE(key.SetDacl(kBefore));
        const std::wstring name = row.objectName.empty() ? key.Name() : row.objectName;

        EXPECT_EQ(RunInstallAction(Expand(row.data, name)), row.result);

        std::vector<std::wstring> messages;
        for (const std::wstring& message : row.messages) {
            messages.push_back(Expand(message, name));
        }
        EXPECT_EQ(m_log.LibraryMessages(), messages);
        std::vector<Ace> after = row.after;
        std::sort(after.begin(), after.end());
        EXPECT_EQ(key.ReadDacl(), after);
    }
}

TEST_F(InstallActionTest, AnswersDecideAboutFailedItems)
{
    const struct {
        const char* name;
        std::deque<int> answers;
        int failures;
        DWORD expected;
        bool applied[3];
        std::size_t prompts;
    } rows[] = {
        {"ignore goes on", {IDIGNORE}, 100, 0, {true, false, true}, 1},
        {"retry repeats until success", {IDRETRY, IDRETRY}, 2, 0, {true, true, true}, 2},
        {"abort stops", {IDABORT}, 100, 1603, {true, false, false}, 1},
        {"no answer stops", {0}, 100, 1603, {true, false, false}, 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TestObject first(TestObject::Kind::Key, L"First"), second(TestObject::Kind::Key, L"Second"),
            third(TestObject::Kind::Key, L"Third");
        const TestObject* keys[] = {&first, &second, &third};
        CSecurityFunctions security;
        security.m_pfnGetNamedSecurityInfoW = &FailingGetNamedSecurityInfoW;
        std::vector<PermissionsItem> items;
        for (const TestObject* key : keys) {
            items.push_back(MakeItem(key->Name(), LockObjectKind::Registry, L"", L"Everyone", KEY_READ, 0x08));
        }
        g_failingObject = second.Name();
        g_failuresLeft = row.failures;
        g_attempts.clear();
        {
            AnsweringScope answering(row.answers);
            EXPECT_EQ(ApplyPermissionsItems(Session(), m_sessionLog, items, _stringx<>(),
                                            [&](const PermissionsItem& item) {
                                                return ApplyItemInProcess(security, m_sessionLog, item);
                                            }),
                      row.expected);
        }
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(Holds(*keys[i], kEveryoneReads), row.applied[i]) << "item " << i + 1;
        }
        EXPECT_EQ(g_prompts.size(), row.prompts);
        // The third item is never even read after a stop.
        EXPECT_EQ(std::count(g_attempts.begin(), g_attempts.end(), third.Name()), row.applied[2] ? 1 : 0);
    }
}

// Through the exported action: the installer hands the prompt, worded by the
// package, to an external user interface, which answers Ignore.
TEST_F(InstallActionTest, PromptReachesTheInstallersUserInterface)
{
    TestObject key(TestObject::Kind::Key, L"AfterPrompt");
    const std::wstring missing = TemporaryPath(L"Missing.txt");
    wchar_t systemText[1040] = {};
    ASSERT_NE(0u, ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                   ERROR_FILE_NOT_FOUND, 0, systemText, 1040, nullptr));
    UINT result = 0;
    {
        AnsweringScope answering({IDIGNORE});
        result = RunInstallAction(missing + L"|File||Users|1179785|0*" + key.Name() + L"|Registry||Everyone|131097|8");
    }
    EXPECT_EQ(result, 0u);
    ASSERT_EQ(g_prompts.size(), 1u);
    const Prompt& prompt = g_prompts.front();
    EXPECT_EQ(prompt.type, 0x01000032u);
    EXPECT_EQ(prompt.messageId, 27555);
    EXPECT_EQ(prompt.objectName, missing);
    EXPECT_EQ(prompt.systemText, systemText);
    EXPECT_EQ(prompt.error, 2);
    EXPECT_TRUE(Holds(key, kEveryoneReads));
}
