// The fixture of installer tests: a package, a costed session on it, the library's
// log lines as the installer hands them to a user interface, and the built DLL.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "PackageBuilder.h"
#include "msi/InstallerLog.h"
#include "msi/InstallerSession.h"
#include "msi/Properties.h"
#include "msi/MsiHandle.h"
#include "support/log_sink.h"
#include "support/unique_any.h"

namespace qxtest {

// A file of the test program's folder, where the build puts the library and the helpers.
std::wstring BesideTestProgram(const wchar_t* name);

// QXLockPermissions.dll, loaded from the test program's folder.
class ActionLibrary {
public:
    using Action = UINT(WINAPI*)(MSIHANDLE);
    ActionLibrary();
    HMODULE Module() const noexcept { return m_module.get(); }
    Action ByName(const char* name) const
    {
        return reinterpret_cast<Action>(reinterpret_cast<void*>(::GetProcAddress(m_module.get(), name)));
    }

private:
    qx::unique_hmodule m_module;
};

// The library's log lines while the object lives, without the "Qelmora <time>: " prefix.
class LogCapture {
public:
    LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
    ~LogCapture();

    const std::vector<std::wstring>& LibraryMessages() const noexcept { return m_messages; }
    void Clear() { m_messages.clear(); }

private:
    static int WINAPI Handler(LPVOID context, UINT messageType, LPCWSTR message);
    std::vector<std::wstring> m_messages;
    INSTALLUI_HANDLERW m_previousHandler = nullptr;
    INSTALLUILEVEL m_previousLevel = INSTALLUILEVEL_NOCHANGE;
};

// Sends the layers' messages into a session's installation log, as the actions do.
class SessionLog : public qx::log_sink {
public:
    explicit SessionLog(const qx::unique_msihandle& session) : m_session(session) { }
    void Log(const _stringx<>& message) override { WriteLogLine(m_session.get(), message); }

private:
    const qx::unique_msihandle& m_session;
};

class InstallerTest : public ::testing::Test {
protected:
    // Every test must leave no installer handle open on this thread.
    void TearDown() override;

    // Builds the package, opens a session and costs it (call through ASSERT_NO_FATAL_FAILURE).
    void StartSession(const PackageBuilder& builder);
    // A new costed session on the package built last.
    void RestartSession();
    MSIHANDLE Session() const noexcept { return m_session.get(); }
    // The installer-side layers' view of the session, logging into its installation log.
    InstallerSession Layers();
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
