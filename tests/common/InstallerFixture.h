// The fixture of installer tests: a package, a session on it, the log lines it
// produced, and the custom action DLL that the tests call.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "LogCapture.h"
#include "PackageBuilder.h"
#include "msi/InstallerSession.h"
#include "msi/MsiHandle.h"
#include "support/log_sink.h"
#include "support/unique_any.h"

namespace qxtest {

// The built QXLockPermissions.dll, loaded from the test program's folder.
class ActionLibrary {
public:
    using Action = UINT(WINAPI*)(MSIHANDLE);

    ActionLibrary();
    ActionLibrary(const ActionLibrary&) = delete;
    ActionLibrary& operator=(const ActionLibrary&) = delete;

    HMODULE Module() const noexcept { return m_module.get(); }
    Action ByName(const char* name) const;

private:
    qx::unique_hmodule m_module;
};

// Runs one SQL statement on a database; the installer's result.
UINT ExecuteSql(MSIHANDLE database, const std::wstring& query);

// Sends the layers' messages into a session's installation log, as the actions do.
class SessionLog : public qx::log_sink {
public:
    explicit SessionLog(const qx::unique_msihandle& session) : m_session(session) { }
    void Log(const _stringx<>& message) override;

private:
    const qx::unique_msihandle& m_session;
};

class InstallerTest : public ::testing::Test {
protected:
    // Every test must leave no installer handle open on this thread.
    void TearDown() override;

    // Builds the package, opens a session and runs costing; a fatal failure
    // when any of these fails (call through ASSERT_NO_FATAL_FAILURE).
    void StartSession(const PackageBuilder& builder);
    MSIHANDLE Session() const noexcept { return m_session.get(); }
    // The installer-side layers' view of the session, logging into its installation log.
    InstallerSession Layers();
    std::wstring GetProperty(const wchar_t* name) const;
    UINT SetProperty(const wchar_t* name, const std::wstring& value)
    {
        return ::MsiSetPropertyW(m_session.get(), name, value.c_str());
    }
    // Calls an exported action of the DLL on the session.
    UINT RunExport(const char* name);

    ActionLibrary m_library;
    LogCapture m_log;
    std::unique_ptr<Package> m_package;
    qx::unique_msihandle m_session;
    qx::unique_msihandle m_database; // the session's, once Layers() asked for it
    SessionLog m_sessionLog{m_session};
};

} // namespace qxtest
