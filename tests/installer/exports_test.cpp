// The exported entry points, by name and ordinal, the frame around them (no
// exception leaves it, and every failure is one log line and 1603), and what the
// end-to-end tests cannot give the actions: bad data, another apartment.
#include <stdexcept>
#include <thread>

#include "InstallerFixture.h"
#include "entry/ActionGuard.h"
#include "entry/LockPermissionsManager.h"
#include "msi/Properties.h"
#include "msi/Views.h"

using namespace qxtest;

namespace {

class ExportsTest : public InstallerTest {
protected:
    UINT Run(const char* action, const std::wstring& data)
    {
        EXPECT_EQ(0u, SetProperty(L"CustomActionData", data));
        m_log.Clear();
        return RunExport(action);
    }
};

// Packages may name the entry points by ordinal too.
TEST_F(ExportsTest, OrdinalsOneTwoAndThreeAreTheActions)
{
    const char* names[] = {"QXLockPermissionsCostAction", "QXLockPermissionsInstallAction",
                           "QXLockPermissionsRollbackAction"};
    for (WORD ordinal : {1, 2, 3}) {
        FARPROC byOrdinal = ::GetProcAddress(m_library.Module(), MAKEINTRESOURCEA(ordinal));
        ASSERT_NE(nullptr, byOrdinal) << ordinal;
        EXPECT_EQ(reinterpret_cast<void*>(m_library.ByName(names[ordinal - 1])), reinterpret_cast<void*>(byOrdinal));
    }
}

UINT ThrowsInstallerFailure(MSIHANDLE hInstall)
{
    CQxLockPermissionsManager manager(hInstall); // gone, with its database handle, before the guard logs
    CheckMsiResult(1627, L"MsiViewExecute");
    return 0;
}

TEST_F(ExportsTest, GuardTurnsEveryFailureIntoOneLineAnd1603)
{
    ASSERT_NO_FATAL_FAILURE(StartSession(PackageBuilder()));
    wchar_t text[512] = {};
    ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, 0x8007065B, 0, text, 512,
                     nullptr);
    const std::pair<UINT (*)(MSIHANDLE), std::vector<std::wstring>> cases[] = {
        {[](MSIHANDLE) -> UINT { return 0; }, {}},
        {&ThrowsInstallerFailure,
         {L"Installer call failed, error 8007065b: " + std::wstring(text) + L"MsiViewExecute()"}},
        // The library's own errors keep their code and their text, whatever its characters.
        {[](MSIHANDLE) -> UINT { throw qx::error(E_ACCESSDENIED, L"Schl\u00fcssel \u00abQX\u00bb gesperrt"); },
         {L"Unexpected failure, error 80070005: Schl\u00fcssel \u00abQX\u00bb gesperrt"}},
        {[](MSIHANDLE) -> UINT { throw std::runtime_error("disk on fire"); }, {L"Unexpected failure: disk on fire"}},
        {[](MSIHANDLE) -> UINT { throw 42; }, {L"Unexpected failure"}}};
    for (const auto& c : cases) {
        m_log.Clear();
        EXPECT_EQ(c.second.empty() ? 0u : 1603u, qx::RunGuardedAction(Session(), [&] { return c.first(Session()); }));
        EXPECT_EQ(c.second, m_log.LibraryMessages());
    }
}

// Costing needs the installation's database; a handle that has none fails the action.
TEST_F(ExportsTest, CostActionWithoutADatabaseFails)
{
    qx::unique_msihandle record(::MsiCreateRecord(1));
    EXPECT_EQ(1603u, m_library.ByName("QXLockPermissionsCostAction")(record.get()));
}

// Installer text of any length takes a second read when the first buffer is short.
TEST_F(ExportsTest, InstallerTextOfAnyLengthIsReadWhole)
{
    ASSERT_NO_FATAL_FAILURE(StartSession(PackageBuilder().Property(L"QXUser", L"alice")));
    EXPECT_EQ(L"DOMAIN\\alice", FormatInstallerText(Session(), L"DOMAIN\\[QXUser][QXMissing]").str());
    for (std::size_t length : {259u, 260u, 261u, 2047u, 2048u, 5000u}) {
        const std::wstring value = std::wstring(length - 1, L'v') + L"!";
        qx::unique_msihandle record(::MsiCreateRecord(1));
        ASSERT_EQ(0u, SetProperty(L"QXValue", value));
        ASSERT_EQ(0u, ::MsiRecordSetStringW(record.get(), 1, value.c_str()));
        EXPECT_EQ(value, ::GetProperty(Session(), L"QXValue").str()) << length;
        EXPECT_EQ(value, FormatInstallerText(Session(), L"[QXValue]").str()) << length;
        EXPECT_EQ(value, GetRecordString(record.get(), 1)) << length;
    }
}

// A failing rollback action would end the rollback: whatever its data, it gives 0.
TEST_F(ExportsTest, BadDataFailsTheInstallActionButNeverTheRollback)
{
    ASSERT_NO_FATAL_FAILURE(StartSession(PackageBuilder()));
    EXPECT_EQ(1603u, Run("QXLockPermissionsInstallAction", L"MACHINE\\Software\\QXLockTests|Registry||Everyone|1"));
    EXPECT_EQ((std::vector<std::wstring>{L"Item contains invalid data",
                                         L"Error returned from GetItemsFromCustomActionData: 0x00000057"}),
              m_log.LibraryMessages());
    const struct {
        const wchar_t* data;
        std::vector<std::wstring> lines;
    } rows[] = {{L"", {L"No access lists to restore. Skipping action..."}},
                {L"MACHINE\\Software\\QXLockNoSuchKey|4|0||D:(A;;KA;;;BA)",
                 {L"Failed to restore access list of 'MACHINE\\Software\\QXLockNoSuchKey', error 0x00000002"}}};
    for (const auto& row : rows) {
        EXPECT_EQ(0u, Run("QXLockPermissionsRollbackAction", row.data));
        EXPECT_EQ(row.lines, m_log.LibraryMessages());
    }
}

// A thread already in the multithreaded apartment cannot have another: the action
// leaves its COM as it found it.
TEST_F(ExportsTest, ThreadInAnotherApartmentKeepsIt)
{
    ASSERT_NO_FATAL_FAILURE(StartSession(PackageBuilder()));
    UINT result = 1;
    HRESULT again = E_FAIL;
    std::thread caller([&] {
        if (SUCCEEDED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
            result = Run("QXLockPermissionsInstallAction", L"MACHINE\\Software\\QXLockNoSuchKey|Registry||Users|1|12");
            again = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED); // S_FALSE: still in it
            ::CoUninitialize();
            ::CoUninitialize();
        }
    });
    caller.join();
    EXPECT_EQ(0u, result);
    EXPECT_EQ(S_FALSE, again);
}

} // namespace
