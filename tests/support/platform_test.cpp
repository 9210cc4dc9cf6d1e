#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include <memory>
#include <string>
#include <vector>

#include "kernel_stubs.h"
#include "support/platform.h"

namespace {

// Recording stand-ins for the WOW64 functions of a 32-bit process on 64-bit Windows.
struct wow64_log {
    std::vector<std::string> calls;
    std::vector<PVOID> reverted;
    std::vector<BOOLEAN> enabled;
    UINT_PTR nextState = 0x100;
    BOOL disableResult = TRUE;
    BOOL revertResult = TRUE;
    BOOLEAN enableResult = TRUE;
    BOOL isWow64 = TRUE;
};
wow64_log g_wow;

BOOL WINAPI FakeIsWow64Process(HANDLE, PBOOL wow64)
{
    *wow64 = g_wow.isWow64;
    return TRUE;
}

BOOL WINAPI FailingIsWow64Process(HANDLE, PBOOL)
{
    return FALSE;
}

BOOL WINAPI FakeDisable(PVOID* state)
{
    g_wow.calls.push_back("disable");
    *state = reinterpret_cast<PVOID>(g_wow.nextState++);
    return g_wow.disableResult;
}

BOOL WINAPI FakeRevert(PVOID state)
{
    g_wow.calls.push_back("revert");
    g_wow.reverted.push_back(state);
    return g_wow.revertResult;
}

BOOLEAN WINAPI FakeEnable(BOOLEAN enable)
{
    g_wow.calls.push_back("enable");
    g_wow.enabled.push_back(enable);
    return g_wow.enableResult;
}

PVOID state(UINT_PTR value)
{
    return reinterpret_cast<PVOID>(value);
}

class RedirectionTest : public ::testing::Test {
protected:
    void SetUp() override { g_wow = wow64_log(); }
};

} // namespace

TEST_F(RedirectionTest, SixtyFourBitProcessCallsNothing)
{
    // IsWow64Process stays the real one: this test binary is a 64-bit process.
    scoped_kernel_stubs stubs{stub("Wow64DisableWow64FsRedirection", FakeDisable),
                              stub("Wow64RevertWow64FsRedirection", FakeRevert),
                              stub("Wow64EnableWow64FsRedirection", FakeEnable)};
    EXPECT_FALSE(qx::running_on_wow64());
    EXPECT_FALSE(qx::set_fs_redirection(false));
    EXPECT_FALSE(qx::set_fs_redirection(true));
    EXPECT_TRUE(g_wow.calls.empty());
}

TEST_F(RedirectionTest, Wow64AnswerNeedsASuccessfulQuery)
{
    {
        scoped_kernel_stubs stubs{stub("IsWow64Process", FakeIsWow64Process)};
        EXPECT_TRUE(qx::running_on_wow64());
        g_wow.isWow64 = FALSE;
        EXPECT_FALSE(qx::running_on_wow64());
    }
    {
        scoped_kernel_stubs stubs{stub("IsWow64Process", FailingIsWow64Process)};
        EXPECT_FALSE(qx::running_on_wow64());
    }
    {
        scoped_kernel_stubs stubs{missing("IsWow64Process"), stub("Wow64EnableWow64FsRedirection", FakeEnable)};
        EXPECT_FALSE(qx::running_on_wow64());
        EXPECT_FALSE(qx::set_fs_redirection(false));
        EXPECT_TRUE(g_wow.calls.empty());
    }
}

TEST_F(RedirectionTest, NestedSwitchesRestoreInReverseOrder)
{
    scoped_kernel_stubs stubs{stub("IsWow64Process", FakeIsWow64Process),
                              stub("Wow64DisableWow64FsRedirection", FakeDisable),
                              stub("Wow64RevertWow64FsRedirection", FakeRevert),
                              stub("Wow64EnableWow64FsRedirection", FakeEnable)};
    EXPECT_TRUE(qx::set_fs_redirection(false)); // saves 0x100
    EXPECT_TRUE(qx::set_fs_redirection(false)); // saves 0x101
    EXPECT_TRUE(qx::set_fs_redirection(true));
    EXPECT_TRUE(qx::set_fs_redirection(false)); // saves 0x102
    EXPECT_TRUE(qx::set_fs_redirection(true));
    EXPECT_TRUE(qx::set_fs_redirection(true));
    EXPECT_EQ(g_wow.reverted, (std::vector<PVOID>{state(0x101), state(0x102), state(0x100)}));
    EXPECT_TRUE(g_wow.enabled.empty());

    // The stack is empty again: switching on falls back to the enable call.
    EXPECT_TRUE(qx::set_fs_redirection(true));
    EXPECT_EQ(g_wow.enabled, (std::vector<BOOLEAN>{TRUE}));
    EXPECT_EQ(g_wow.calls.size(), 7u);
}

TEST_F(RedirectionTest, FailedSwitchOffStillTakesAnEntry)
{
    scoped_kernel_stubs stubs{stub("IsWow64Process", FakeIsWow64Process),
                              stub("Wow64DisableWow64FsRedirection", FakeDisable),
                              stub("Wow64RevertWow64FsRedirection", FakeRevert),
                              stub("Wow64EnableWow64FsRedirection", FakeEnable)};
    g_wow.disableResult = FALSE;
    g_wow.revertResult = FALSE;
    EXPECT_FALSE(qx::set_fs_redirection(false));
    EXPECT_FALSE(qx::set_fs_redirection(true)); // the revert's answer
    EXPECT_EQ(g_wow.reverted.size(), 1u);
    EXPECT_TRUE(g_wow.enabled.empty());

    g_wow.enableResult = FALSE;
    EXPECT_FALSE(qx::set_fs_redirection(true)); // empty again: the enable call's answer
    EXPECT_EQ(g_wow.enabled.size(), 1u);
}

TEST_F(RedirectionTest, WithoutTheDisableRevertPairTheEnableCallSwitches)
{
    const struct {
        const char* name;
        kernel_stub disable;
        kernel_stub revert;
    } cases[] = {
        {"no disable", missing("Wow64DisableWow64FsRedirection"), stub("Wow64RevertWow64FsRedirection", FakeRevert)},
        {"no revert", stub("Wow64DisableWow64FsRedirection", FakeDisable), missing("Wow64RevertWow64FsRedirection")},
    };
    for (const auto& c : cases) {
        g_wow = wow64_log();
        scoped_kernel_stubs stubs{stub("IsWow64Process", FakeIsWow64Process), c.disable, c.revert,
                                  stub("Wow64EnableWow64FsRedirection", FakeEnable)};
        EXPECT_TRUE(qx::set_fs_redirection(false)) << c.name;
        EXPECT_TRUE(qx::set_fs_redirection(true)) << c.name;
        EXPECT_EQ(g_wow.enabled, (std::vector<BOOLEAN>{FALSE, TRUE})) << c.name;
        EXPECT_EQ(g_wow.calls, (std::vector<std::string>{"enable", "enable"})) << c.name;
    }

    g_wow = wow64_log();
    scoped_kernel_stubs none{stub("IsWow64Process", FakeIsWow64Process), missing("Wow64DisableWow64FsRedirection"),
                             missing("Wow64EnableWow64FsRedirection")};
    EXPECT_FALSE(qx::set_fs_redirection(false));
    EXPECT_FALSE(qx::set_fs_redirection(true));
}

namespace {

struct close_handle {
    void operator()(HANDLE h) const noexcept { ::CloseHandle(h); }
};
struct local_free {
    void operator()(void* p) const noexcept { ::LocalFree(p); }
};
using token_ptr = std::unique_ptr<void, close_handle>;

std::unique_ptr<void, local_free> administrators_sid()
{
    PSID sid = nullptr;
    ::ConvertStringSidToSidW(L"S-1-5-32-544", &sid);
    return std::unique_ptr<void, local_free>(sid);
}

// Whether the process token holds Administrators as an enabled group.
bool process_is_admin()
{
    BOOL member = FALSE;
    return ::CheckTokenMembership(nullptr, administrators_sid().get(), &member) && member;
}

// Lets this thread impersonate a copy of the process token whose Administrators
// group is for deny only, as in a filtered token.
bool impersonate_filtered_token()
{
    HANDLE process = nullptr;
    HANDLE restricted = nullptr;
    HANDLE impersonation = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, &process)) {
        return false;
    }
    token_ptr processToken(process);
    auto admins = administrators_sid();
    SID_AND_ATTRIBUTES disable{admins.get(), 0};
    if (!::CreateRestrictedToken(process, 0, 1, &disable, 0, nullptr, 0, nullptr, &restricted)) {
        return false;
    }
    token_ptr restrictedToken(restricted);
    if (!::DuplicateToken(restricted, SecurityImpersonation, &impersonation)) {
        return false;
    }
    token_ptr impersonationToken(impersonation);
    return ::SetThreadToken(nullptr, impersonation) != FALSE;
}

struct revert_to_self {
    ~revert_to_self() { ::RevertToSelf(); }
};

} // namespace

TEST(AdminRights, ProcessTokenAgreesWithTheSystem)
{
    const bool admin = process_is_admin();
    EXPECT_EQ(qx::token_has_group(true, true), admin);
    EXPECT_EQ(qx::user_has_admin_rights(), admin);
    if (admin) {
        EXPECT_TRUE(qx::token_has_group(true, false));
    }
}

TEST(AdminRights, DenyOnlyAdministratorsOfTheThreadTokenAreNoAdministrators)
{
    if (!process_is_admin()) {
        GTEST_SKIP() << "needs a process token with the Administrators group enabled";
    }
    {
        revert_to_self revert;
        ASSERT_TRUE(impersonate_filtered_token());
        EXPECT_FALSE(qx::user_has_admin_rights());
        EXPECT_FALSE(qx::token_has_group(true, true));
        EXPECT_TRUE(qx::token_has_group(true, false)) << "the group is there, for deny only";
    }
    // Back on the process token.
    EXPECT_TRUE(qx::user_has_admin_rights());
}
