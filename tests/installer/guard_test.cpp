// The frame around the exported actions: no exception leaves it, and every
// failure is one log line and 1603.
#include <stdexcept>

#include "InstallerFixture.h"
#include "entry/ActionGuard.h"
#include "entry/LockPermissionsManager.h"
#include "msi/Views.h"

using namespace qxtest;

class GuardTest : public InstallerTest { };

TEST_F(GuardTest, TurnsEveryFailureIntoOneLineAnd1603)
{
    ASSERT_NO_FATAL_FAILURE(StartSession(PackageBuilder()));
    const MSIHANDLE session = Session();
    const struct {
        const char* name;
        UINT (*body)(MSIHANDLE);
        UINT result;
        std::wstring prefix; // empty: no line
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
        SCOPED_TRACE(c.name);
        m_log.Clear();
        EXPECT_EQ(c.result, qx::RunGuardedAction(session, [&] { return c.body(session); }));
        const std::vector<std::wstring>& messages = m_log.LibraryMessages();
        ASSERT_EQ(c.prefix.empty() ? 0u : 1u, messages.size());
        if (!c.prefix.empty()) {
            const std::wstring& line = messages.front();
            EXPECT_EQ(0u, line.find(c.prefix)) << line;
            EXPECT_EQ(line.size() - c.suffix.size(), line.rfind(c.suffix)) << line;
            EXPECT_TRUE(!c.suffix.empty() || line == c.prefix) << line;
        }
    }
}
