#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "kernel_stubs.h"
#include "support/platform.h"

namespace {

// Recording stand-ins for the WOW64 functions of a 32-bit process on 64-bit Windows.
std::vector<std::string> g_calls;
UINT_PTR g_nextState = 256;
BOOL g_disableResult = TRUE;

BOOL WINAPI FakeIsWow64Process(HANDLE, PBOOL wow64)
{
    *wow64 = TRUE;
    return TRUE;
}

BOOL WINAPI FakeDisable(PVOID* state)
{
    *state = reinterpret_cast<PVOID>(g_nextState++);
    g_calls.push_back("disable");
    return g_disableResult;
}

BOOL WINAPI FakeRevert(PVOID state)
{
    g_calls.push_back("revert " + std::to_string(reinterpret_cast<UINT_PTR>(state)));
    return TRUE;
}

BOOLEAN WINAPI FakeEnable(BOOLEAN enable)
{
    g_calls.push_back("enable " + std::to_string(enable));
    return TRUE;
}

const kernel_stub kWow64 = stub("IsWow64Process", FakeIsWow64Process);
const kernel_stub kDisable = stub("Wow64DisableWow64FsRedirection", FakeDisable);
const kernel_stub kRevert = stub("Wow64RevertWow64FsRedirection", FakeRevert);
const kernel_stub kEnable = stub("Wow64EnableWow64FsRedirection", FakeEnable);

} // namespace

TEST(Redirection, OnlyOnWow64NestedSwitchesRestoreInReverseOrderThenFallBackToEnabling)
{
    g_calls.clear();
    {
        scoped_kernel_stubs native{kDisable, kRevert, kEnable}; // this 64-bit process is no WOW64 one
        EXPECT_FALSE(qx::set_fs_redirection(false));
        EXPECT_FALSE(qx::set_fs_redirection(true));
        EXPECT_TRUE(g_calls.empty());
    }

    scoped_kernel_stubs stubs{kWow64, kDisable, kRevert, kEnable};
    EXPECT_TRUE(qx::set_fs_redirection(false)); // saves 256
    g_disableResult = FALSE;
    EXPECT_FALSE(qx::set_fs_redirection(false)); // saves 257 all the same, for its switch-on
    g_disableResult = TRUE;
    EXPECT_TRUE(qx::set_fs_redirection(true));
    EXPECT_TRUE(qx::set_fs_redirection(false)); // saves 258
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(qx::set_fs_redirection(true)); // the last one finds the stack empty
    }
    EXPECT_EQ(g_calls, (std::vector<std::string>{"disable", "disable", "revert 257", "disable", "revert 258",
                                                 "revert 256", "enable 1"}));

    // Without the disable-revert pair the enable call does the switching.
    for (const kernel_stub& missing : {kernel_stub{kDisable.name, nullptr}, kernel_stub{kRevert.name, nullptr}}) {
        g_calls.clear();
        scoped_kernel_stubs without{kWow64, missing, missing.name == kDisable.name ? kRevert : kDisable, kEnable};
        EXPECT_TRUE(qx::set_fs_redirection(false));
        EXPECT_TRUE(qx::set_fs_redirection(true));
        EXPECT_EQ(g_calls, (std::vector<std::string>{"enable 0", "enable 1"})) << missing.name;
    }
}

namespace {

// Whether the process token holds Administrators as an enabled group.
bool process_is_admin()
{
    BYTE admins[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(admins);
    BOOL member = FALSE;
    return ::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &size) &&
           ::CheckTokenMembership(nullptr, admins, &member) && member;
}

// Lets this thread impersonate a copy of the process token whose Administrators
// group is for deny only, as in a filtered token.
bool impersonate_filtered_token()
{
    HANDLE process = nullptr, restricted = nullptr, impersonation = nullptr;
    BYTE admins[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(admins);
    ::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &size);
    SID_AND_ATTRIBUTES disable{admins, 0};
    bool done = ::OpenProcessToken(::GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, &process) &&
                ::CreateRestrictedToken(process, 0, 1, &disable, 0, nullptr, 0, nullptr, &restricted) &&
                ::DuplicateToken(restricted, SecurityImpersonation, &impersonation) &&
                ::SetThreadToken(nullptr, impersonation);
    for (HANDLE token : {process, restricted, impersonation}) {
        if (token) {
            ::CloseHandle(token);
        }
    }
    return done;
}

} // namespace

TEST(AdminRights, DenyOnlyAdministratorsOfTheThreadTokenAreNoAdministrators)
{
    const bool admin = process_is_admin();
    EXPECT_EQ(qx::token_has_group(true, true), admin);
    EXPECT_EQ(qx::user_has_admin_rights(), admin);
    if (!admin) {
        GTEST_SKIP() << "needs a process token with the Administrators group enabled";
    }
    ASSERT_TRUE(impersonate_filtered_token());
    EXPECT_FALSE(qx::user_has_admin_rights());
    EXPECT_FALSE(qx::token_has_group(true, true));
    EXPECT_TRUE(qx::token_has_group(true, false)) << "the group is there, for deny only";
    ::RevertToSelf();
    EXPECT_TRUE(qx::user_has_admin_rights()) << "back on the process token";
}
