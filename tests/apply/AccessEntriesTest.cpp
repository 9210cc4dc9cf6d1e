// The entry built for each item. How entries merge into real objects' DACLs is
// tested end to end by the installer tests.
#include <gtest/gtest.h>

#include <cstring>

#include "apply/ApplyTestSupport.h"

using namespace applytest;

TEST(AccessEntries, EntryFollowsKindAndFlags)
{
    const struct {
        LockObjectKind kind;
        DWORD flags;
        DWORD permission;
        const wchar_t* user;
        DWORD result;
        ACCESS_MODE mode;
        DWORD inheritance;
    } rows[] = {
        {LockObjectKind::CreateFolder, 0x00, GENERIC_READ, L"Everyone", 0, SET_ACCESS, 3},
        {LockObjectKind::File, 0x00, GENERIC_READ, L"Everyone", 0, SET_ACCESS, 0},
        {LockObjectKind::Registry, 0x08, KEY_READ, L"Everyone", 0, SET_ACCESS, 3},
        {LockObjectKind::Unknown, 0x00, GENERIC_READ, L"Everyone", 0, SET_ACCESS, 0},
        {LockObjectKind::CreateFolder, 0x02, GENERIC_READ, L"Everyone", 0, SET_ACCESS, 4},
        {LockObjectKind::File, 0x02, GENERIC_READ, L"Everyone", 0, SET_ACCESS, 4},
        {LockObjectKind::Registry, 0x02, KEY_READ, L"Everyone", 0, SET_ACCESS, 4},
        {LockObjectKind::File, 0x01, GENERIC_ALL, L"Everyone", 0, DENY_ACCESS, 0},
        {LockObjectKind::CreateFolder, 0x17, 0x80000000, L"Everyone", 0, DENY_ACCESS, 4},
        // Filled before the account is resolved, so filled when it is not.
        {LockObjectKind::File, 0x03, GENERIC_READ, L"nobody-qx", ERROR_NONE_MAPPED, DENY_ACCESS, 4},
    };
    LocalMemoryTracker tracker;
    TestSecureObject object;
    LocalMemoryTracker::Install(object);
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "kind " << int(row.kind) << ", flags " << row.flags);
        PermissionsItem item = MakeItem(L"C:\\x", row.kind, L"", row.user, row.permission, row.flags);
        EXPLICIT_ACCESS_W entry;
        std::memset(&entry, 0xCC, sizeof(entry));
        EXPECT_EQ(object.BuildExplicitAccess(item, entry), row.result);
        EXPECT_EQ(entry.grfAccessPermissions, row.permission);
        EXPECT_EQ(entry.grfAccessMode, row.mode);
        EXPECT_EQ(entry.grfInheritance, row.inheritance);
        EXPECT_EQ(entry.Trustee.pMultipleTrustee, nullptr);
        EXPECT_EQ(entry.Trustee.MultipleTrusteeOperation, NO_MULTIPLE_TRUSTEE);
        EXPECT_EQ(entry.Trustee.TrusteeForm, TRUSTEE_IS_SID);
        EXPECT_EQ(entry.Trustee.TrusteeType, TRUSTEE_IS_UNKNOWN);
        if (row.result != 0) {
            EXPECT_EQ(entry.Trustee.ptstrName, nullptr);
            continue;
        }
        EXPECT_EQ(SidText(entry.Trustee.ptstrName), L"S-1-1-0");
        ::LocalFree(entry.Trustee.ptstrName);
    }
    EXPECT_EQ(LocalMemoryTracker::Live(), 0u);
    EXPECT_EQ(LocalMemoryTracker::UnknownFrees(), 0);
}
