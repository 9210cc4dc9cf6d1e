// The permissions manager: log, installer text, properties, the lock table
// reader, clean-up on destruction, and the guard around the exported actions.
#include <map>

#include "InstallerFixture.h"
#include "entry/LockPermissionsManager.h"
#include "msi/Views.h"

using namespace qxtest;

namespace {

std::wstring Str(const _stringx<>& text) { return text.str(); }

} // namespace

class ManagerTest : public InstallerTest {};

TEST_F(ManagerTest, LogWritesEachMessageAsOneTimestampedLine)
{
    ASSERT_NO_FATAL_FAILURE(StartSession(PackageBuilder()));
    m_log.Clear();
    {
        CQxLockPermissionsManager manager(Session());
        manager.Log(L"first");
        manager.Log(L"status 643\n");
        manager.Log(L"");
    }
    EXPECT_EQ((std::vector<std::wstring>{L"first", L"status 643\n", L""}), m_log.LibraryMessages());
    ASSERT_FALSE(m_log.Lines().empty());
    // [Time] is expanded by the installer: "Qelmora h:mm:ss: first".
    const std::wstring& line = m_log.Lines().front();
    EXPECT_EQ(std::wstring::npos, line.find(L"[Time]")) << Narrow(line);
    EXPECT_NE(std::wstring::npos, line.find(L':')) << Narrow(line);
}

TEST_F(ManagerTest, FormatInstallerTextExpandsPropertyReferences)
{
    const std::wstring longValue(300, L'L');
    PackageBuilder builder;
    builder.Property(L"QXUser", L"alice").Property(L"QXLong", longValue);
    ASSERT_NO_FATAL_FAILURE(StartSession(builder));
    CQxLockPermissionsManager manager(Session());

    const struct {
        const wchar_t* text;
        std::wstring expected;
    } cases[] = {
        {L"[QXUser]\\suffix", L"alice\\suffix"},
        {L"DOMAIN\\[QXUser]", L"DOMAIN\\alice"},
        {L"no references at all", L"no references at all"},
        {L"", L""},
        {L"[QXMissing]tail", L"tail"},
        {L"[QXLong]", longValue},                       // longer than the first buffer
        {L"[QXLong][QXLong]x", longValue + longValue + L"x"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, Str(manager.FormatInstallerText(c.text))) << Narrow(c.text);
    }
}

TEST_F(ManagerTest, GetPropertyReadsValuesOfAnyLength)
{
    ASSERT_NO_FATAL_FAILURE(StartSession(PackageBuilder()));
    CQxLockPermissionsManager manager(Session());
    for (std::size_t length : {1u, 259u, 260u, 261u, 1000u}) {
        std::wstring value(length, L'v');
        value.back() = L'!';
        ASSERT_EQ(0u, m_session.SetProperty(L"QXValue", value));
        EXPECT_EQ(value, Str(manager.GetProperty(L"QXValue"))) << length;
    }
    EXPECT_TRUE(manager.GetProperty(L"QXNeverSet").empty());
}

TEST_F(ManagerTest, ReadsLockTableRowsInViewOrder)
{
    PackageBuilder builder;
    builder.Property(L"QXDomain", L"CORP").Property(L"QXUser", L"alice");
    builder.Table(L"QXLockPermissions", kLockTableColumns,
                  {
                      {L"MainExe", L"File", L"[QXDomain]", L"[QXUser]", 2032127, 4},
                      {L"[QXUser]Key", L"Registry", nullptr, L"Everyone", 1, nullptr},
                      {L"INSTALLDIR", L"CreateFolder", L"", L"[QXUser]@[QXDomain]", -268435456, 2},
                  });
    ASSERT_NO_FATAL_FAILURE(StartSession(builder));

    const std::map<std::wstring, LockPermissionsRow> expected = {
        {L"MainExe", {L"MainExe", L"File", L"CORP", L"alice", 0x1F01FF, 4}},
        // Only the account columns are expanded; a null integer is the installer's null.
        {L"[QXUser]Key", {L"[QXUser]Key", L"Registry", L"", L"Everyone", 1, 0x80000000}},
        {L"INSTALLDIR", {L"INSTALLDIR", L"CreateFolder", L"", L"alice@CORP", 0xF0000000, 2}},
    };
    // The order the installer returns the rows in.
    std::vector<std::wstring> keys;
    {
        CMsiHandle database = ActiveDatabase();
        CMsiHandle view;
        ASSERT_EQ(0u, OpenExecute(&view, database, L"SELECT * FROM `QXLockPermissions`"));
        for (CMsiHandle record; ::MsiViewFetch(view, record.put()) == ERROR_SUCCESS; record.reset()) {
            keys.push_back(GetRecordString(record, 1));
        }
    }

    CQxLockPermissionsManager manager(Session());
    EXPECT_EQ(0u, manager.GetAllPermissionsItems());

    ASSERT_EQ(keys.size(), manager.m_allPermissionsItems.size());
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const LockPermissionsRow& row = manager.m_allPermissionsItems[i];
        const LockPermissionsRow& want = expected.at(keys[i]);
        EXPECT_EQ(Str(want.m_strLockObject), Str(row.m_strLockObject));
        EXPECT_EQ(Str(want.m_strTable), Str(row.m_strTable));
        EXPECT_EQ(Str(want.m_strDomain), Str(row.m_strDomain)) << Narrow(keys[i]);
        EXPECT_EQ(Str(want.m_strUser), Str(row.m_strUser)) << Narrow(keys[i]);
        EXPECT_EQ(want.m_dwPermission, row.m_dwPermission) << Narrow(keys[i]);
        EXPECT_EQ(want.m_dwFlags, row.m_dwFlags) << Narrow(keys[i]);
    }
    EXPECT_TRUE(m_log.LibraryMessages().empty());
}

TEST_F(ManagerTest, LockTableReaderHandlesAbsentEmptyAndTemporaryTables)
{
    const struct {
        const char* name;
        bool persistentTable;
        bool temporaryRows;
        std::size_t rows;
        std::vector<std::wstring> messages;
    } cases[] = {
        {"absent", false, false, 0, {L"QXLockPermissions table does not exist"}},
        {"empty", true, false, 0, {}},
        {"temporary rows", true, true, 2, {}},
    };
    for (const auto& c : cases) {
        PackageBuilder builder;
        if (c.persistentTable) {
            builder.Table(L"QXLockPermissions", kLockTableColumns);
        }
        ASSERT_NO_FATAL_FAILURE(StartSession(builder)) << c.name;
        if (c.temporaryRows) {
            CMsiHandle database = ActiveDatabase();
            ASSERT_EQ(0u, InsertRows(database, L"QXLockPermissions",
                                     {{L"A", L"File", L"", L"Everyone", 1, 0}, {L"B", L"File", L"", L"Everyone", 1, 0}},
                                     true));
        }
        m_log.Clear();
        {
            CQxLockPermissionsManager manager(Session());
            EXPECT_EQ(0u, manager.GetAllPermissionsItems()) << c.name;
            EXPECT_EQ(c.rows, manager.m_allPermissionsItems.size()) << c.name;
        }
        EXPECT_EQ(c.messages, m_log.LibraryMessages()) << c.name;
        m_session.Close();
        m_package.reset();
    }
}

TEST_F(ManagerTest, CreateBitUtilsHelperFailsWithoutHelper)
{
    ASSERT_NO_FATAL_FAILURE(StartSession(PackageBuilder()));
    m_log.Clear();
    CQxLockPermissionsManager manager(Session());

    EXPECT_EQ(E_POINTER, manager.CreateBitUtilsHelper(nullptr));
    EXPECT_TRUE(m_log.LibraryMessages().empty());

    IQXBEWUtils* helper = reinterpret_cast<IQXBEWUtils*>(&manager); // any non-null value
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), manager.CreateBitUtilsHelper(&helper));
    EXPECT_EQ(nullptr, helper);
    EXPECT_EQ(std::vector<std::wstring>{L"Failed to initialize 64-bit helper, error 80070002"},
              m_log.LibraryMessages());
}

// Destruction removes an extracted helper: up to five attempts half a second apart.
TEST(ManagerCleanup, RemovesHelperFileThenItsFolder)
{
    wchar_t temp[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"qxhelper-" + std::to_wstring(::GetCurrentProcessId());
    const std::wstring file = folder + L"\\QXBEW.exe";

    const struct {
        const char* name;
        bool setPath;
        bool lockFile; // an open handle without delete sharing: every attempt fails
        bool folderRemains;
        ULONGLONG minimumMs;
        ULONGLONG maximumMs;
    } cases[] = {
        {"no helper", false, false, true, 0, 400},
        {"deletable", true, false, false, 450, 2000},
        {"locked", true, true, true, 2400, 10000},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr)) << c.name;
        HANDLE handle = ::CreateFileW(file.c_str(), GENERIC_WRITE, c.lockFile ? 0 : FILE_SHARE_DELETE, nullptr,
                                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, handle) << c.name;
        if (!c.lockFile) {
            ::CloseHandle(handle);
        }

        ULONGLONG start = ::GetTickCount64();
        {
            CQxLockPermissionsManager manager(0);
            if (c.setPath) {
                manager.m_strHelperPath = file.c_str();
            }
        }
        ULONGLONG elapsed = ::GetTickCount64() - start;

        EXPECT_GE(elapsed, c.minimumMs) << c.name;
        EXPECT_LE(elapsed, c.maximumMs) << c.name;
        EXPECT_EQ(c.folderRemains, ::GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES) << c.name;
        if (c.lockFile) {
            ::CloseHandle(handle);
        }
        ::DeleteFileW(file.c_str());
        ::RemoveDirectoryW(folder.c_str());
    }
}
