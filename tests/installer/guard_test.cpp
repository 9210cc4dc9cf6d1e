// The frame around the exported actions: no exception leaves it, every failure
// is one log line and 1603, and the manager is gone before the line is written.
#include <stdexcept>

#include "InstallerFixture.h"
#include "entry/ActionGuard.h"
#include "entry/LockPermissionsManager.h"
#include "msi/Views.h"

using namespace qxtest;

class GuardTest : public InstallerTest {};

TEST_F(GuardTest, TurnsEveryFailureIntoOneLineAnd1603)
{
    ASSERT_NO_FATAL_FAILURE(StartSession(PackageBuilder()));
    const MSIHANDLE session = Session();
    const struct {
        const char* name;
        UINT (*body)(MSIHANDLE);
        UINT result;
        std::wstring prefix;
        std::wstring suffix;
    } cases[] = {
        {"success", [](MSIHANDLE) -> UINT { return 0; }, 0, L"", L""},
        {"installer failure",
         [](MSIHANDLE hInstall) -> UINT {
             // The manager must be gone (its database handle closed) by the time the guard logs.
             CQxLockPermissionsManager manager(hInstall);
             CheckMsiResult(1627, L"MsiViewExecute");
             return 0;
         },
         1603, L"Installer call failed, error 8007065b: ", L"MsiViewExecute()"},
        {"standard exception", [](MSIHANDLE) -> UINT { throw std::runtime_error("disk on fire"); }, 1603,
         L"Unexpected failure: disk on fire", L""},
        {"anything else", [](MSIHANDLE) -> UINT { throw 42; }, 1603, L"Unexpected failure", L""},
    };
    for (const auto& c : cases) {
        m_log.Clear();
        EXPECT_EQ(c.result, qx::RunGuardedAction(session, [&] { return c.body(session); })) << c.name;
        std::vector<std::wstring> messages = m_log.LibraryMessages();
        if (c.prefix.empty()) {
            EXPECT_TRUE(messages.empty()) << c.name;
            continue;
        }
        ASSERT_EQ(1u, messages.size()) << c.name;
        const std::wstring& line = messages.front();
        EXPECT_EQ(c.prefix, line.substr(0, c.prefix.size())) << Narrow(line);
        EXPECT_EQ(c.suffix, line.substr(line.size() - c.suffix.size())) << Narrow(line);
        if (c.suffix.empty()) {
            EXPECT_EQ(c.prefix, line);
        }
    }
}
