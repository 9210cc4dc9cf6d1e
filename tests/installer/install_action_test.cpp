// The install action end to end: custom action data in, the DACLs of real keys
// read back out. The exported action runs in the built DLL; a manager built here
// lets a test replace its security entry points.
#include <algorithm>
#include <deque>
#include <iterator>

#include "InstallerFixture.h"
#include "apply/ApplyTestSupport.h"
#include "entry/LockPermissionsManager.h"

using namespace qxtest;
using namespace applytest;

namespace {

constexpr BYTE kAllow = ACCESS_ALLOWED_ACE_TYPE;
constexpr BYTE kDeny = ACCESS_DENIED_ACE_TYPE;
constexpr BYTE kInherited = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
const wchar_t kEveryone[] = L"S-1-1-0";
const wchar_t kUsers[] = L"S-1-5-32-545";
const wchar_t kAdministrators[] = L"S-1-5-32-544";
const wchar_t kGuests[] = L"S-1-5-32-546";

// The DACL every test key starts with.
const std::vector<Ace> kBefore = {{kAllow, kInherited, KEY_ALL_ACCESS, kAdministrators},
                                  {kAllow, kInherited, KEY_READ, kUsers}};

std::vector<Ace> Sorted(std::vector<Ace> aces)
{
    std::sort(aces.begin(), aces.end());
    return aces;
}

// Replaces every "$" by the object's name.
std::vector<std::wstring> Expand(std::vector<std::wstring> texts, const std::wstring& name)
{
    for (std::wstring& text : texts) {
        for (std::size_t at = text.find(L'$'); at != std::wstring::npos; at = text.find(L'$', at + name.size())) {
            text.replace(at, 1, name);
        }
    }
    return texts;
}

std::wstring Expand(const std::wstring& text, const std::wstring& name)
{
    return Expand(std::vector<std::wstring>{text}, name).front();
}

const wchar_t kGetting[] = L"Getting existing security descriptor for '$'";
const wchar_t kSetting[] = L"Setting new security descriptor for '$'";
const wchar_t kAborted[] = L"Error returned from ApplyPermissionsItems: 0x00000643";

class InstallActionTest : public InstallerTest {
protected:
    void SetUp() override
    {
        // The package words the prompt; the installer fills in the record's fields.
        PackageBuilder builder;
        builder.Table(L"Error", L"`Error` SHORT NOT NULL, `Message` CHAR(0) LOCALIZABLE PRIMARY KEY `Error`",
                      {{27555, L"Could not set permissions on [2]: [3] (error [4])."}});
        ASSERT_NO_FATAL_FAILURE(StartSession(builder));
    }

    void SetData(const std::wstring& data)
    {
        EXPECT_EQ(0u, m_session.SetProperty(L"CustomActionData", data));
        m_log.Clear();
    }

    UINT RunExportedAction(const std::wstring& data)
    {
        SetData(data);
        ActionLibrary::Action action = m_library.ByName("QXLockPermissionsInstallAction");
        return action ? action(Session()) : ERROR_PROC_NOT_FOUND;
    }

    ActionLibrary m_library;
};

} // namespace

TEST_F(InstallActionTest, ExportedActionMergesEachItemIntoTheKeysDacl)
{
    const std::wstring usersKey = L"USERS\\" + CurrentUserSid() + L"\\Software\\QXLockTests\\Item";
    const std::wstring missingFile = TemporaryPath(L"Missing.txt");
    const std::wstring failedToRead = L"Failed to obtain existing security descriptor, last error: 0x00000002";
    const struct {
        const char* name;
        bool nullDacl;           // else kBefore
        std::wstring objectName; // "$" in the texts below; empty: the test key's name
        std::wstring data;
        UINT result;
        std::vector<std::wstring> messages;
        std::vector<Ace> after;
    } rows[] = {
        {"allow and deny in one text", false, L"", L"$|Registry||Everyone|131097|8*$|Registry|BUILTIN|Guests|2|9",
         0, {kGetting, kSetting, kGetting, kSetting},
         {kBefore[0], kBefore[1], {kAllow, kInherited, KEY_READ, kEveryone},
          {kDeny, kInherited, KEY_SET_VALUE, kGuests}}},
        {"set replaces the trustee's own entry only", false, L"", L"$|Registry||Users|983103|8", 0,
         {kGetting, kSetting}, {kBefore[0], {kAllow, kInherited, KEY_ALL_ACCESS, kUsers}}},
        {"the user's key under USERS, a string SID", false, usersKey, L"$|registry||s-1-1-0|131097|8", 0,
         {kGetting, kSetting}, {kBefore[0], kBefore[1], {kAllow, kInherited, KEY_READ, kEveryone}}},
        {"null DACL", true, L"", L"$|Registry||everyone|131097|8", 0, {kGetting, kSetting},
         {{kAllow, kInherited, KEY_READ, kEveryone}}},
        {"unknown account, nobody answers", false, L"", L"$|Registry||nobody-qx|131097|8", 1603,
         {L"ResolveSidForAccountName: looking up account name 'nobody-qx'",
          L"Failed to lookup account name, last error: 0x00000534",
          L"Failed to apply permissions for object '$', error 0x00000534", kAborted},
         kBefore},
        // A 64-bit library has no helper to start; 0x16 carries 0x04, so nobody is asked.
        {"32-bit component's key", false, L"", L"$|Registry||Everyone|131097|22", 0,
         {L"Failed to initialize 64-bit helper, error 80070002",
          L"Failed to obtain 64-bit helper process for permission item '$', error '80070002'",
          L"Failed to apply permissions for object '$', error 0x80070002"},
         kBefore},
        // Files of 32-bit components stay in this process.
        {"missing file, failure ignored", false, missingFile, L"$|File||Users|1179785|22", 0,
         {kGetting, failedToRead, L"Failed to apply permissions for object '$', error 0x00000002"}, kBefore},
        {"missing file, nobody answers", false, missingFile, L"$|File||Users|1179785|0", 1603,
         {kGetting, failedToRead, L"Failed to apply permissions for object '$', error 0x00000002", kAborted},
         kBefore},
    };
    // Well-known and looked-up SIDs are allocated in the DLL.
    LocalMemoryTracker tracker(m_library.Module());
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TestObject key(TestObject::Kind::Key, L"Item");
        ASSERT_TRUE(row.nullDacl ? key.SetNullDacl() : key.SetDacl(kBefore));
        const std::wstring name = row.objectName.empty() ? key.Name() : row.objectName;

        EXPECT_EQ(RunExportedAction(Expand(row.data, name)), row.result);

        EXPECT_EQ(m_log.LibraryMessages(), Expand(row.messages, name));
        EXPECT_EQ(LocalMemoryTracker::Live(), 0u) << "a SID was not released";
        EXPECT_EQ(key.ReadDacl(), Sorted(row.after));
    }
}

namespace {

// What reached SetNamedSecurityInfoW, which then goes on to the system.
struct WrittenDacl {
    SECURITY_INFORMATION information = 0;
    bool ownerGroupOrSacl = false;
    std::vector<Ace> entries;
};
WrittenDacl g_written;

DWORD WINAPI RecordingSetNamedSecurityInfoW(LPWSTR name, SE_OBJECT_TYPE type, SECURITY_INFORMATION information,
                                            PSID owner, PSID group, PACL dacl, PACL sacl)
{
    g_written = {information, owner || group || sacl, ReadAces(dacl)};
    return ::SetNamedSecurityInfoW(name, type, information, owner, group, dacl, sacl);
}

} // namespace

// Wine keeps no DACL of a file or folder, so what the action writes is read
// where it reaches the system.
TEST_F(InstallActionTest, FileAndFolderEntries)
{
    const struct {
        TestObject::Kind kind;
        const wchar_t* data;
        Ace entry;
    } rows[] = {
        {TestObject::Kind::Folder, L"$|CreateFolder||Users|1179785|0", {kAllow, kInherited, FILE_GENERIC_READ, kUsers}},
        {TestObject::Kind::Folder, L"$|CreateFolder||Users|1179785|2",
         {kAllow, NO_PROPAGATE_INHERIT_ACE, FILE_GENERIC_READ, kUsers}},
        {TestObject::Kind::Folder, L"$|CreateFolder||Users|1179785|9", {kDeny, kInherited, FILE_GENERIC_READ, kUsers}},
        {TestObject::Kind::File, L"$|File||Users|1179785|8", {kAllow, 0, FILE_GENERIC_READ, kUsers}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << Narrow(row.data));
        TestObject object(row.kind, L"Item");
        SetData(Expand(row.data, object.Name()));
        g_written = WrittenDacl();
        CQxLockPermissionsManager manager(Session());
        manager.m_pfnSetNamedSecurityInfoW = &RecordingSetNamedSecurityInfoW;

        EXPECT_EQ(manager.RunInstall(), 0u);

        // Only the DACL, with no word about its protection.
        EXPECT_EQ(g_written.information, static_cast<SECURITY_INFORMATION>(DACL_SECURITY_INFORMATION));
        EXPECT_FALSE(g_written.ownerGroupOrSacl);
        std::vector<Ace> users;
        std::copy_if(g_written.entries.begin(), g_written.entries.end(), std::back_inserter(users),
                     [](const Ace& ace) { return ace.sid == kUsers; });
        EXPECT_EQ(users, std::vector<Ace>{row.entry});
    }
}

TEST_F(InstallActionTest, MissingSecurityEntryPointsLeaveTheKeyAsItWas)
{
    const struct {
        const char* name;
        void (*breakObject)(CQXSecureObject&);
        UINT result;
        std::vector<std::wstring> messages;
    } rows[] = {
        {"nothing missing", [](CQXSecureObject&) {}, 0, {kGetting, kSetting}},
        {"no GetNamedSecurityInfoW", [](CQXSecureObject& o) { o.m_pfnGetNamedSecurityInfoW = nullptr; }, 1603,
         {kGetting, L"Failed to obtain existing security descriptor, last error: 0x0000007f",
          L"Failed to apply permissions for object '$', error 0x0000007f", kAborted}},
        {"no SetEntriesInAclW", [](CQXSecureObject& o) { o.m_pfnSetEntriesInAclW = nullptr; }, 1603,
         {kGetting, L"Failed to set explicit access for new ACL, last error: 0x0000007f",
          L"Failed to apply permissions for object '$', error 0x0000007f", kAborted}},
        {"no SetNamedSecurityInfoW", [](CQXSecureObject& o) { o.m_pfnSetNamedSecurityInfoW = nullptr; }, 1603,
         {kGetting, kSetting, L"Failed to set new security descriptor, last error: 0x0000007f",
          L"Failed to apply permissions for object '$', error 0x0000007f", kAborted}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TestObject key(TestObject::Kind::Key, L"Injected");
        ASSERT_TRUE(key.SetDacl(kBefore));
        // A string SID: its conversion allocates inside the system.
        SetData(key.Name() + L"|Registry||S-1-1-0|131097|8");
        {
            LocalMemoryTracker tracker;
            CQxLockPermissionsManager manager(Session());
            LocalMemoryTracker::Install(manager);
            row.breakObject(manager);

            EXPECT_EQ(manager.RunInstall(), row.result);

            EXPECT_EQ(LocalMemoryTracker::Live(), 0u) << "a SID, descriptor or ACL was not released";
            EXPECT_EQ(LocalMemoryTracker::UnknownFrees(), 0);
        }
        EXPECT_EQ(m_log.LibraryMessages(), Expand(row.messages, key.Name()));
        std::vector<Ace> expected = kBefore;
        if (row.result == 0) {
            expected.push_back({kAllow, kInherited, KEY_READ, kEveryone});
        }
        EXPECT_EQ(key.ReadDacl(), Sorted(expected));
    }
}

namespace {

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

Prompt ReadPrompt(UINT type, MSIHANDLE record)
{
    EXPECT_EQ(::MsiRecordGetFieldCount(record), 4u);
    return {type, ::MsiRecordGetInteger(record, 1), Field(record, 2), Field(record, 3),
            ::MsiRecordGetInteger(record, 4)};
}

int NextAnswer()
{
    int answer = g_answers.empty() ? 0 : g_answers.front();
    if (!g_answers.empty()) {
        g_answers.pop_front();
    }
    return answer;
}

int WINAPI AnsweringUserInterface(LPVOID, UINT type, MSIHANDLE record)
{
    g_prompts.push_back(ReadPrompt(type, record));
    return NextAnswer();
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

std::wstring SystemText(DWORD code)
{
    wchar_t text[1040] = {};
    ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text, 1040,
                     nullptr);
    return text;
}

} // namespace

TEST_F(InstallActionTest, AnswersDecideAboutFailedItems)
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
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TestObject first(TestObject::Kind::Key, L"First"), second(TestObject::Kind::Key, L"Second"),
            third(TestObject::Kind::Key, L"Third");
        const TestObject* keys[] = {&first, &second, &third};
        CQxLockPermissionsManager manager(Session());
        manager.m_pfnGetNamedSecurityInfoW = &FailingGetNamedSecurityInfoW;
        for (const TestObject* key : keys) {
            bool isSecond = key == &second;
            manager.m_finalPermissionsItems.push_back(MakeItem(key->Name(), isSecond ? row.secondKind : kRegistry,
                                                               L"", L"Everyone", KEY_READ,
                                                               isSecond ? row.secondFlags : 0x08));
        }
        g_failingObject = second.Name();
        g_failuresLeft = row.failures;
        g_answers = row.answers;
        g_prompts.clear();
        g_attempts.clear();
        m_log.Clear();

        INSTALLUI_HANDLER_RECORD previous = nullptr;
        ASSERT_EQ(0u, ::MsiSetExternalUIRecord(&AnsweringUserInterface, INSTALLLOGMODE_ERROR, nullptr, &previous));
        EXPECT_EQ(manager.ApplyPermissionsItems(), row.expected);
        ::MsiSetExternalUIRecord(previous, 0, nullptr, nullptr);

        for (int i = 0; i < 3; ++i) {
            std::vector<Ace> dacl = keys[i]->ReadDacl();
            bool applied = std::find(dacl.begin(), dacl.end(), Ace{kAllow, kInherited, KEY_READ, kEveryone}) !=
                           dacl.end();
            EXPECT_EQ(applied, row.applied[i]) << "item " << i + 1;
        }
        ASSERT_EQ(g_prompts.size(), row.prompts);
        for (const Prompt& prompt : g_prompts) {
            EXPECT_EQ(prompt.type, 0x01000032u);
            EXPECT_EQ(prompt.messageId, 27555);
            EXPECT_EQ(prompt.objectName, second.Name());
            EXPECT_EQ(prompt.error, 2);
        }
        // Every failure is logged once by the driver, whether prompted or not.
        const std::vector<std::wstring> messages = m_log.LibraryMessages();
        const std::wstring failureLine = Expand(L"Failed to apply permissions for object '$', error 0x00000002",
                                                second.Name());
        EXPECT_EQ(std::count(messages.begin(), messages.end(), failureLine),
                  std::min<std::ptrdiff_t>(row.failures, row.prompts ? row.prompts : 1));
        // The third item is never even read after a stop.
        bool thirdTried = std::find(g_attempts.begin(), g_attempts.end(), third.Name()) != g_attempts.end();
        EXPECT_EQ(thirdTried, row.applied[2]);
    }
}

// Through the exported action: the installer hands the prompt, worded by the
// package, to an external user interface, which answers Ignore.
TEST_F(InstallActionTest, PromptReachesTheInstallersUserInterface)
{
    TestObject key(TestObject::Kind::Key, L"AfterPrompt");
    const std::wstring missing = TemporaryPath(L"Missing.txt");
    g_answers = {IDIGNORE};
    g_prompts.clear();
    INSTALLUI_HANDLER_RECORD previous = nullptr;
    ASSERT_EQ(0u, ::MsiSetExternalUIRecord(&AnsweringUserInterface, INSTALLLOGMODE_ERROR, nullptr, &previous));

    UINT result =
        RunExportedAction(missing + L"|File||Users|1179785|0*" + key.Name() + L"|Registry||Everyone|131097|8");

    ::MsiSetExternalUIRecord(previous, 0, nullptr, nullptr);
    ASSERT_EQ(g_prompts.size(), 1u);
    const Prompt& prompt = g_prompts.front();
    EXPECT_EQ(prompt.type, 0x01000032u);
    EXPECT_EQ(prompt.messageId, 27555);
    EXPECT_EQ(prompt.objectName, missing);
    EXPECT_EQ(prompt.systemText, SystemText(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(prompt.systemText.empty());
    EXPECT_EQ(prompt.error, 2);
    EXPECT_EQ(result, 0u);
    std::vector<Ace> dacl = key.ReadDacl();
    EXPECT_NE(std::find(dacl.begin(), dacl.end(), Ace{kAllow, kInherited, KEY_READ, kEveryone}), dacl.end());
}
