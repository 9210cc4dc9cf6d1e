#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "kernel_stubs.h"
#include "support/platform.h"
#include "support/unique_any.h"

namespace {

// The WOW64 calls of a 32-bit process on 64-bit Windows, recorded.
std::vector<std::string> g_calls;
UINT_PTR g_nextState = 256;
BOOL g_disableResult = TRUE;

BOOL WINAPI Disable(PVOID* state)
{
    *state = reinterpret_cast<PVOID>(g_nextState++);
    g_calls.push_back("disable");
    return g_disableResult;
}
BOOL WINAPI Revert(PVOID state)
{
    g_calls.push_back("revert " + std::to_string(reinterpret_cast<UINT_PTR>(state)));
    return TRUE;
}
// Only on WOW64; switch-offs nest and are undone in reverse order, a failed one
// too.
TEST(Platform, RedirectionSwitchesNest)
{
    const kernel_stub disable = stub("Wow64DisableWow64FsRedirection", Disable),
                      revert = stub("Wow64RevertWow64FsRedirection", Revert),
                      wow64 = stub("IsWow64Process", &scoped_wow64::IsWow64);
    {
        scoped_kernel_stubs native{disable, revert}; // this 64-bit process is no WOW64 one
        EXPECT_FALSE(qx::set_fs_redirection(false));
        EXPECT_TRUE(g_calls.empty());
    }
    scoped_kernel_stubs stubs{wow64, disable, revert};
    EXPECT_TRUE(qx::set_fs_redirection(false)); // saves 256
    g_disableResult = FALSE;
    EXPECT_FALSE(qx::set_fs_redirection(false)); // saves 257 all the same, for its switch-on
    g_disableResult = TRUE;
    EXPECT_TRUE(qx::set_fs_redirection(true));
    EXPECT_TRUE(qx::set_fs_redirection(true));
    EXPECT_FALSE(qx::set_fs_redirection(true)); // nothing left to switch back
    EXPECT_EQ((std::vector<std::string>{"disable", "disable", "revert 257", "revert 256"}), g_calls);
}

// Administrators that a filtered token holds for deny only are no administrators.
TEST(Platform, DenyOnlyAdministratorsAreNoAdministrators)
{
    BYTE admins[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(admins);
    BOOL member = FALSE;
    ASSERT_TRUE(::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &size));
    ASSERT_TRUE(::CheckTokenMembership(nullptr, admins, &member));
    EXPECT_EQ(member != FALSE, qx::user_has_admin_rights());
    if (!member) {
        GTEST_SKIP() << "needs a process token with the Administrators group enabled";
    }
    qx::unique_handle process, restricted, impersonation;
    SID_AND_ATTRIBUTES disable{admins, 0};
    ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, process.put()) &&
                ::CreateRestrictedToken(process.get(), 0, 1, &disable, 0, nullptr, 0, nullptr, restricted.put()) &&
                ::DuplicateToken(restricted.get(), SecurityImpersonation, impersonation.put()) &&
                ::SetThreadToken(nullptr, impersonation.get()));
    EXPECT_FALSE(qx::user_has_admin_rights());
    EXPECT_FALSE(qx::token_has_group(true, true));
    EXPECT_TRUE(qx::token_has_group(true, false)) << "the group is there, for deny only";
    ::RevertToSelf();
    EXPECT_TRUE(qx::user_has_admin_rights());
}

} // namespace
