#include <gtest/gtest.h>

#include <algorithm>

#include "apply/ApplyTestSupport.h"

using namespace applytest;

namespace {

const wchar_t kEveryone[] = L"S-1-1-0";
const wchar_t kUsers[] = L"S-1-5-32-545";
const wchar_t kAdministrators[] = L"S-1-5-32-544";
const wchar_t kGuests[] = L"S-1-5-32-546";
constexpr BYTE kAllow = ACCESS_ALLOWED_ACE_TYPE;
constexpr BYTE kDeny = ACCESS_DENIED_ACE_TYPE;
constexpr BYTE kContainer = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;

std::vector<Ace> Sorted(std::vector<Ace> aces)
{
    std::sort(aces.begin(), aces.end());
    return aces;
}

std::vector<Ace> EntriesFor(const std::vector<Ace>& aces, const std::wstring& sid)
{
    std::vector<Ace> found;
    std::copy_if(aces.begin(), aces.end(), std::back_inserter(found),
                 [&](const Ace& ace) { return ace.sid == sid; });
    return found;
}

class AccessEntries : public ::testing::Test {
protected:
    void SetUp() override
    {
        LocalMemoryTracker::Install(object);
        g_setNamed = SetNamedCall();
        g_setEntriesCalls = 0;
    }

    void TearDown() override
    {
        EXPECT_EQ(LocalMemoryTracker::Live(), 0u) << "a descriptor, ACL or SID was not released";
        EXPECT_EQ(LocalMemoryTracker::UnknownFrees(), 0);
    }

    // Builds the entry and merges it, as the in-process route does.
    DWORD Apply(const PermissionsItem& item)
    {
        EXPLICIT_ACCESS_W entry;
        DWORD result = object.BuildExplicitAccess(item, entry);
        if (result == ERROR_SUCCESS) {
            result = object.UpdateObjectSecurity(item, &entry);
        }
        ::LocalFree(entry.Trustee.ptstrName);
        return result;
    }

    LocalMemoryTracker tracker;
    TestSecureObject object;
};

} // namespace

TEST_F(AccessEntries, EntryFollowsKindAndFlags)
{
    const struct {
        LockObjectKind kind;
        DWORD flags;
        DWORD permission;
        ACCESS_MODE mode;
        DWORD inheritance;
    } rows[] = {
        {LockObjectKind::CreateFolder, 0x00, GENERIC_READ, SET_ACCESS, 3},
        {LockObjectKind::File, 0x00, GENERIC_READ, SET_ACCESS, 0},
        {LockObjectKind::Registry, 0x08, KEY_READ, SET_ACCESS, 3},
        {LockObjectKind::Unknown, 0x00, GENERIC_READ, SET_ACCESS, 0},
        {LockObjectKind::CreateFolder, 0x02, GENERIC_READ, SET_ACCESS, 4},
        {LockObjectKind::File, 0x02, GENERIC_READ, SET_ACCESS, 4},
        {LockObjectKind::Registry, 0x02, KEY_READ, SET_ACCESS, 4},
        {LockObjectKind::File, 0x01, GENERIC_ALL, DENY_ACCESS, 0},
        {LockObjectKind::CreateFolder, 0x17, 0x80000000, DENY_ACCESS, 4},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "kind " << int(row.kind) << ", flags " << row.flags);
        PermissionsItem item = MakeItem(L"C:\\x", row.kind, L"", L"Everyone", row.permission, row.flags);
        EXPLICIT_ACCESS_W entry;
        std::memset(&entry, 0xCC, sizeof(entry));
        ASSERT_EQ(object.BuildExplicitAccess(item, entry), 0u);
        EXPECT_EQ(entry.grfAccessPermissions, row.permission);
        EXPECT_EQ(entry.grfAccessMode, row.mode);
        EXPECT_EQ(entry.grfInheritance, row.inheritance);
        EXPECT_EQ(entry.Trustee.pMultipleTrustee, nullptr);
        EXPECT_EQ(entry.Trustee.MultipleTrusteeOperation, NO_MULTIPLE_TRUSTEE);
        EXPECT_EQ(entry.Trustee.TrusteeForm, TRUSTEE_IS_SID);
        EXPECT_EQ(entry.Trustee.TrusteeType, TRUSTEE_IS_UNKNOWN);
        EXPECT_EQ(SidText(entry.Trustee.ptstrName), kEveryone);
        ::LocalFree(entry.Trustee.ptstrName);
    }
}

TEST_F(AccessEntries, UnresolvedAccountStillFillsTheEntry)
{
    PermissionsItem item = MakeItem(L"C:\\x", LockObjectKind::File, L"", L"nobody-qx", GENERIC_READ, 0x03);
    EXPLICIT_ACCESS_W entry;
    EXPECT_EQ(object.BuildExplicitAccess(item, entry), static_cast<DWORD>(ERROR_NONE_MAPPED));
    EXPECT_EQ(entry.Trustee.ptstrName, nullptr);
    EXPECT_EQ(entry.grfAccessMode, DENY_ACCESS);
    EXPECT_EQ(entry.grfInheritance, static_cast<DWORD>(NO_PROPAGATE_INHERIT_ACE));
    EXPECT_EQ(entry.grfAccessPermissions, static_cast<DWORD>(GENERIC_READ));
}

TEST_F(AccessEntries, MergesIntoRegistryKeyDacl)
{
    const std::vector<Ace> before = {
        {kAllow, kContainer, KEY_ALL_ACCESS, kAdministrators},
        {kAllow, kContainer, KEY_READ, kUsers},
        {kDeny, kContainer, KEY_CREATE_LINK, kGuests},
        {kAllow, 0, KEY_READ, kEveryone},
    };
    const struct {
        const char* name;
        bool nullDacl;
        const wchar_t* user;
        DWORD flags;
        DWORD permission;
        std::vector<Ace> after;
    } rows[] = {
        {"set replaces the trustee's entry", false, L"Users", 0x08, KEY_ALL_ACCESS,
         {before[0], {kAllow, kContainer, KEY_ALL_ACCESS, kUsers}, before[2], before[3]}},
        {"deny adds to the trustee's entries", false, L"Everyone", 0x09, KEY_SET_VALUE,
         {before[0], before[1], before[2], before[3], {kDeny, kContainer, KEY_SET_VALUE, kEveryone}}},
        {"no propagation", false, L"S-1-5-32-545", 0x0A, KEY_READ,
         {before[0], {kAllow, NO_PROPAGATE_INHERIT_ACE, KEY_READ, kUsers}, before[2], before[3]}},
        {"null DACL", true, L"everyone", 0x08, KEY_READ, {{kAllow, kContainer, KEY_READ, kEveryone}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TestKey key(L"Merge");
        std::vector<BYTE> acl = MakeAcl(before);
        ASSERT_TRUE(key.SetDacl(row.nullDacl ? nullptr : reinterpret_cast<ACL*>(acl.data())));
        bool daclNull = false;
        key.ReadDacl(&daclNull);
        ASSERT_EQ(daclNull, row.nullDacl);

        object.lines.clear();
        PermissionsItem item =
            MakeItem(key.ObjectName(), LockObjectKind::Registry, L"", row.user, row.permission, row.flags);
        EXPECT_EQ(Apply(item), 0u);
        EXPECT_EQ(Sorted(key.ReadDacl()), Sorted(row.after));
        EXPECT_EQ(object.lines, (std::vector<std::wstring>{
                                    L"Getting existing security descriptor for '" + key.ObjectName() + L"'",
                                    L"Setting new security descriptor for '" + key.ObjectName() + L"'"}));
    }
}

TEST_F(AccessEntries, FileAndFolderEntriesReachTheSystem)
{
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"qxlock-apply-test\\";
    const std::wstring file = folder + L"locked.txt";
    ::CreateDirectoryW(folder.c_str(), nullptr);
    HANDLE handle = ::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    ::CloseHandle(handle);

    object.m_pfnSetNamedSecurityInfoW = &RecordingSetNamedSecurityInfoW;
    const struct {
        const std::wstring& name;
        LockObjectKind kind;
        DWORD flags;
        Ace expected;
    } rows[] = {
        {folder, LockObjectKind::CreateFolder, 0x08, {kAllow, kContainer, FILE_GENERIC_READ, kUsers}},
        {folder, LockObjectKind::CreateFolder, 0x0A, {kAllow, NO_PROPAGATE_INHERIT_ACE, FILE_GENERIC_READ, kUsers}},
        {folder, LockObjectKind::CreateFolder, 0x09, {kDeny, kContainer, FILE_GENERIC_READ, kUsers}},
        {file, LockObjectKind::File, 0x08, {kAllow, 0, FILE_GENERIC_READ, kUsers}},
        {file, LockObjectKind::File, 0x16, {kAllow, NO_PROPAGATE_INHERIT_ACE, FILE_GENERIC_READ, kUsers}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "kind " << int(row.kind) << ", flags " << row.flags);
        g_setNamed = SetNamedCall();
        EXPECT_EQ(Apply(MakeItem(row.name, row.kind, L"BUILTIN", L"Users", FILE_GENERIC_READ, row.flags)), 0u);
        EXPECT_EQ(g_setNamed.count, 1);
        EXPECT_EQ(g_setNamed.objectName, row.name);
        EXPECT_EQ(g_setNamed.objectType, SE_FILE_OBJECT);
        EXPECT_EQ(g_setNamed.information, static_cast<SECURITY_INFORMATION>(DACL_SECURITY_INFORMATION));
        EXPECT_TRUE(g_setNamed.ownerGroupSaclNull);
        EXPECT_FALSE(g_setNamed.daclNull);
        EXPECT_EQ(EntriesFor(g_setNamed.dacl, kUsers), std::vector<Ace>{row.expected});
    }

    // A missing file: the first failure, and nothing after it.
    g_setNamed = SetNamedCall();
    g_setEntriesCalls = 0;
    object.lines.clear();
    const std::wstring missing = folder + L"missing.txt";
    EXPECT_EQ(Apply(MakeItem(missing, LockObjectKind::File, L"", L"Users", FILE_GENERIC_READ, 0)), 2u);
    EXPECT_EQ(object.lines, (std::vector<std::wstring>{
                                L"Getting existing security descriptor for '" + missing + L"'",
                                L"Failed to obtain existing security descriptor, last error: 0x00000002"}));
    EXPECT_EQ(g_setEntriesCalls, 0);
    EXPECT_EQ(g_setNamed.count, 0);

    ::DeleteFileW(file.c_str());
    ::RemoveDirectoryW(folder.c_str());
}

TEST_F(AccessEntries, FailuresLeaveTheKeyAsItWas)
{
    TestKey key(L"Failures");
    const std::vector<Ace> before = {{kAllow, kContainer, KEY_ALL_ACCESS, kAdministrators}};
    std::vector<BYTE> acl = MakeAcl(before);
    ASSERT_TRUE(key.SetDacl(reinterpret_cast<ACL*>(acl.data())));
    const PermissionsItem item = MakeItem(key.ObjectName(), LockObjectKind::Registry, L"", L"Users", KEY_READ, 0x08);

    object.m_pfnSetNamedSecurityInfoW = &RecordingSetNamedSecurityInfoW;
    g_setNamed.forcedResult = ERROR_ACCESS_DENIED;
    EXPECT_EQ(Apply(item), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(object.lines.back(), L"Failed to set new security descriptor, last error: 0x00000005");

    object.lines.clear();
    g_setNamed = SetNamedCall();
    object.m_pfnSetEntriesInAclW = nullptr;
    EXPECT_EQ(Apply(item), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    EXPECT_EQ(object.lines.back(), L"Failed to set explicit access for new ACL, last error: 0x0000007f");
    EXPECT_EQ(object.lines.size(), 2u);
    EXPECT_EQ(g_setNamed.count, 0);

    object.lines.clear();
    object.m_pfnGetNamedSecurityInfoW = nullptr;
    EXPECT_EQ(Apply(item), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    EXPECT_EQ(object.lines.back(), L"Failed to obtain existing security descriptor, last error: 0x0000007f");

    EXPECT_EQ(key.ReadDacl(), before);
}
