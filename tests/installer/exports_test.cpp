// The exported entry points, called in the built DLL the way the installer calls them.
#include <thread>

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
TEST_F(ExportsTest, OrdinalsOneTwoAndThreeAreTheActions)
{
    const char* names[] = {"QXLockPermissionsCostAction", "QXLockPermissionsInstallAction",
                           "QXLockPermissionsRollbackAction"};
    for (WORD ordinal : {1, 2, 3}) {
        FARPROC byOrdinal = ::GetProcAddress(m_library.Module(), MAKEINTRESOURCEA(ordinal));
        ASSERT_NE(byOrdinal, nullptr) << "ordinal " << ordinal;
        EXPECT_EQ(reinterpret_cast<void*>(byOrdinal), reinterpret_cast<void*>(m_library.ByName(names[ordinal - 1])))
            << "ordinal " << ordinal;
    }
}

// An action called on a thread that is already in the multithreaded apartment
// cannot have its own; it must leave the thread's COM as it found it.
TEST_F(ExportsTest, ThreadInAnotherApartmentKeepsIt)
{
    ASSERT_NO_FATAL_FAILURE(StartSession(PackageBuilder()));
    ASSERT_EQ(0u, SetProperty(L"CustomActionData", L"MACHINE\\Software\\QXLockNoSuchKey|Registry||Users|1|12"));
    UINT result = 0;
    HRESULT again = E_FAIL;
    std::thread caller([&] {
        if (FAILED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
            return;
        }
        result = RunExport("QXLockPermissionsInstallAction");
        // S_FALSE: still initialised; S_OK would mean the action took the thread's own away.
        again = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        if (SUCCEEDED(again)) {
            ::CoUninitialize();
        }
        ::CoUninitialize();
    });
    caller.join();
    EXPECT_EQ(0u, result);
    EXPECT_EQ(S_FALSE, again);
}
