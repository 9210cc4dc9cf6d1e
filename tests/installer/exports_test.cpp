// The exported entry points, called in the built DLL the way the installer calls them.
#include <algorithm>
#include <cwctype>

#include "InstallerFixture.h"

using namespace qxtest;

namespace {

const wchar_t kNotPresent[] = L"Qelmora permissions table not present, skipping action...";

class ExportsTest : public InstallerTest {
protected:
    UINT RunAction(const char* name)
    {
        ActionLibrary::Action action = m_library.ByName(name);
        if (!action) {
            ADD_FAILURE() << name << " is not exported";
            return ERROR_PROC_NOT_FOUND;
        }
        return action(Session());
    }

    ActionLibrary m_library;
};

bool Contains(const std::vector<std::wstring>& lines, const std::wstring& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

} // namespace

TEST_F(ExportsTest, EntryPointsAreExportedByNameAndOrdinal)
{
    ASSERT_NE(nullptr, m_library.Module());
    const struct {
        const char* name;
        WORD ordinal;
    } cases[] = {{"QXLockPermissionsCostAction", 1}, {"QXLockPermissionsInstallAction", 2}};
    for (const auto& c : cases) {
        void* byName = reinterpret_cast<void*>(m_library.ByName(c.name));
        EXPECT_NE(nullptr, byName) << c.name;
        EXPECT_EQ(byName, reinterpret_cast<void*>(m_library.ByOrdinal(c.ordinal))) << c.name;
    }
}

enum class LockTableKind { Absent, Temporary, Persistent };

struct PresenceCase {
    const char* name;
    LockTableKind table;
    bool skipped;
};

class CostActionPresenceTest : public ExportsTest, public ::testing::WithParamInterface<PresenceCase> {};

TEST_P(CostActionPresenceTest, SkipsOnlyWithoutLockTable)
{
    const PresenceCase& c = GetParam();
    PackageBuilder builder;
    if (c.table == LockTableKind::Persistent) {
        builder.Table(L"QXLockPermissions", kLockTableColumns);
    }
    ASSERT_NO_FATAL_FAILURE(StartSession(builder));
    if (c.table == LockTableKind::Temporary) {
        CMsiHandle database = ActiveDatabase();
        ASSERT_EQ(0u, ExecuteSql(database, L"CREATE TABLE `QXLockPermissions` (`LockObject` CHAR(72) NOT NULL "
                                           L"TEMPORARY, `Table` CHAR(32) TEMPORARY PRIMARY KEY `LockObject`) HOLD"));
        ASSERT_EQ(MSICONDITION_FALSE, ::MsiDatabaseIsTablePersistentW(database, L"QXLockPermissions"));
    }
    // A sentinel shows whether the action wrote the property at all.
    ASSERT_EQ(0u, m_session.SetProperty(L"QXLockPermissionsInstall", L"sentinel"));

    UINT result = RunAction("QXLockPermissionsCostAction");

    std::vector<std::wstring> messages = m_log.LibraryMessages();
    if (c.skipped) {
        EXPECT_EQ(0u, result);
        EXPECT_EQ(std::vector<std::wstring>{kNotPresent}, messages);
        EXPECT_EQ(L"sentinel", m_session.GetProperty(L"QXLockPermissionsInstall"));
    } else {
        EXPECT_FALSE(Contains(messages, kNotPresent));
        EXPECT_FALSE(Contains(messages, L"QXLockPermissions table does not exist"));
    }
}

INSTANTIATE_TEST_SUITE_P(LockTable, CostActionPresenceTest,
                         ::testing::Values(PresenceCase{"Absent", LockTableKind::Absent, true},
                                           PresenceCase{"Temporary", LockTableKind::Temporary, false},
                                           PresenceCase{"Persistent", LockTableKind::Persistent, false}),
                         [](const ::testing::TestParamInfo<PresenceCase>& info) { return info.param.name; });

TEST_F(ExportsTest, InstallActionFailsWhenItsDataCannotBeRead)
{
    ASSERT_NO_FATAL_FAILURE(StartSession(PackageBuilder()));
    ASSERT_EQ(0u, m_session.SetProperty(L"CustomActionData", L"not a record"));

    EXPECT_EQ(1603u, RunAction("QXLockPermissionsInstallAction"));

    // The status depends on the reader; its form does not.
    const std::wstring prefix = L"Error returned from GetItemsFromCustomActionData: 0x";
    std::vector<std::wstring> messages = m_log.LibraryMessages();
    ASSERT_FALSE(messages.empty());
    const std::wstring& last = messages.back();
    ASSERT_EQ(prefix.size() + 8, last.size()) << Narrow(last);
    EXPECT_EQ(prefix, last.substr(0, prefix.size()));
    EXPECT_TRUE(std::all_of(last.begin() + static_cast<std::ptrdiff_t>(prefix.size()), last.end(),
                            [](wchar_t c) { return std::iswxdigit(c) && !std::iswupper(c); }))
        << Narrow(last);
}

// Needs the custom action data reader, which returns 259 for an empty text;
// the placeholder in src/cost returns 120 instead.
TEST_F(ExportsTest, InstallActionSucceedsWithoutData)
{
    ASSERT_NO_FATAL_FAILURE(StartSession(PackageBuilder()));

    EXPECT_EQ(0u, RunAction("QXLockPermissionsInstallAction"));
    EXPECT_EQ(std::vector<std::wstring>{L"No permissions items present. Skipping action..."},
              m_log.LibraryMessages());
}
