// The exported entry points, called in the built DLL the way the installer calls them.
#include "InstallerFixture.h"

using namespace qxtest;

namespace {

const wchar_t kNotPresent[] = L"Qelmora permissions table not present, skipping action...";

class ExportsTest : public InstallerTest { };

} // namespace

// Only a package without the lock table is skipped: a temporary one counts.
TEST_F(ExportsTest, CostActionSkipsOnlyWithoutLockTable)
{
    for (bool temporaryTable : {false, true}) {
        SCOPED_TRACE(temporaryTable ? "temporary" : "absent");
        ASSERT_NO_FATAL_FAILURE(StartSession(PackageBuilder()));
        if (temporaryTable) {
            qx::unique_msihandle database(::MsiGetActiveDatabase(Session()));
            ASSERT_EQ(0u, ExecuteSql(database.get(),
                                     L"CREATE TABLE `QXLockPermissions` (`LockObject` CHAR(72) NOT NULL "
                                     L"TEMPORARY, `Table` CHAR(32) TEMPORARY PRIMARY KEY `LockObject`) HOLD"));
        }
        // A sentinel shows whether the action wrote the property at all.
        ASSERT_EQ(0u, SetProperty(L"QXLockPermissionsInstall", L"sentinel"));
        m_log.Clear();

        UINT result = RunExport("QXLockPermissionsCostAction");

        EXPECT_EQ(0u, result);
        EXPECT_EQ(temporaryTable ? std::vector<std::wstring>{} : std::vector<std::wstring>{kNotPresent},
                  m_log.LibraryMessages());
        EXPECT_EQ(temporaryTable ? L"" : L"sentinel", GetProperty(L"QXLockPermissionsInstall"));
        m_session.reset();
    }
}

TEST_F(ExportsTest, InstallActionSucceedsWithoutData)
{
    ASSERT_NO_FATAL_FAILURE(StartSession(PackageBuilder()));

    EXPECT_EQ(0u, RunExport("QXLockPermissionsInstallAction"));
    EXPECT_EQ(std::vector<std::wstring>{L"No permissions items present. Skipping action..."}, m_log.LibraryMessages());
}

// Packages may name the entry points by ordinal too.
TEST_F(ExportsTest, OrdinalsOneAndTwoAreTheTwoActions)
{
    const char* names[] = {"QXLockPermissionsCostAction", "QXLockPermissionsInstallAction"};
    for (WORD ordinal : {1, 2}) {
        FARPROC byOrdinal = ::GetProcAddress(m_library.Module(), MAKEINTRESOURCEA(ordinal));
        ASSERT_NE(byOrdinal, nullptr) << "ordinal " << ordinal;
        EXPECT_EQ(reinterpret_cast<void*>(byOrdinal), reinterpret_cast<void*>(m_library.ByName(names[ordinal - 1])))
            << "ordinal " << ordinal;
    }
}
