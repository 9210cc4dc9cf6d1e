// The rollback through the exported actions: costing captures the list of a key
// that exists, the rollback action puts it back, and it never fails.
#include "ApplyTestSupport.h"
#include "InstallerFixture.h"
#include "apply/AccessEntries.h"
#include "support/unique_any.h"

using namespace qxtest;
using namespace applytest;

namespace {

const wchar_t kExisting[] = L"Software\\QXLockRollbackExisting";
const wchar_t kAdded[] = L"Software\\QXLockRollbackAdded";

class RollbackActionTest : public InstallerTest {
protected:
    void TearDown() override
    {
        ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kExisting);
        InstallerTest::TearDown();
    }

    UINT RunRollback(const std::wstring& data)
    {
        EXPECT_EQ(0u, SetProperty(L"CustomActionData", data));
        m_log.Clear();
        return RunExport("QXLockPermissionsRollbackAction");
    }
};

std::wstring DaclText(const std::wstring& name)
{
    std::wstring copy = name;
    qx::unique_local<void> descriptor;
    qx::unique_local<wchar_t> text;
    if (::GetNamedSecurityInfoW(&copy[0], SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
                                nullptr, descriptor.put()) != ERROR_SUCCESS ||
        !::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor.get(), SDDL_REVISION_1,
                                                                DACL_SECURITY_INFORMATION, text.put(), nullptr)) {
        return L"";
    }
    return text.get();
}

TEST_F(RollbackActionTest, CostingCapturesWhatExistsAndTheRollbackPutsItBack)
{
    qx::unique_hkey key;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kExisting, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                               key.put(), nullptr));
    key.reset();
    const std::wstring existing = std::wstring(L"MACHINE\\") + kExisting;
    const std::wstring before = DaclText(existing);
    ASSERT_FALSE(before.empty());

    // One key that exists and one that the installation would make.
    PackageBuilder builder;
    builder.Registry(L"Existing", 2, kExisting, L"MainComponent")
        .Registry(L"Added", 2, kAdded, L"MainComponent")
        .Rows(L"QXLockPermissions", {{L"Existing", L"Registry", nullptr, L"Everyone", KEY_READ, 0},
                                     {L"Added", L"Registry", nullptr, L"Everyone", KEY_READ, 0}});
    ASSERT_NO_FATAL_FAILURE(StartSession(builder));
    ASSERT_EQ(0u, RunExport("QXLockPermissionsCostAction"));
    const std::wstring data = GetProperty(L"QXLockPermissionsRollback");
    EXPECT_EQ(existing + L"|4|0|" + before, data);

    // The install action changed the list; the installation is rolled back.
    CSecurityFunctions security;
    SessionLog log(m_session);
    ASSERT_EQ(0u, ApplyItemInProcess(security, log,
                                     MakeItem(existing, LockObjectKind::Registry, L"", L"Guests", KEY_READ, 0x08)));
    ASSERT_NE(before, DaclText(existing));
    EXPECT_EQ(0u, RunRollback(data));
    EXPECT_EQ(before, DaclText(existing));
    EXPECT_EQ(std::vector<std::wstring>{L"Restored access list of '" + existing + L"'"}, m_log.LibraryMessages());
}

// A failing rollback action would end the rollback: whatever the data, it gives 0.
TEST_F(RollbackActionTest, NothingOrNothingUsableIsNoFailure)
{
    ASSERT_NO_FATAL_FAILURE(StartSession(PackageBuilder()));
    const struct {
        const wchar_t* data;
        std::vector<std::wstring> lines;
    } rows[] = {
        {L"", {L"No access lists to restore. Skipping action..."}},
        {L"**|",
         {L"Rollback record 1 contains invalid data", L"Rollback record 2 contains invalid data",
          L"Rollback record 3 contains invalid data"}},
        {L"MACHINE\\Software\\QXLockNoSuchKey|4|0|D:(A;;KA;;;BA)",
         {L"Failed to restore access list of 'MACHINE\\Software\\QXLockNoSuchKey', error 0x00000002"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(row.data)));
        EXPECT_EQ(0u, RunRollback(row.data));
        EXPECT_EQ(row.lines, m_log.LibraryMessages());
    }
}

} // namespace
