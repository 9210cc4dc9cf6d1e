#include "InstallerFixture.h"

namespace qxtest {

std::wstring BesideTestProgram(const wchar_t* name)
{
    wchar_t path[MAX_PATH] = {};
    const std::wstring program(path, ::GetModuleFileNameW(nullptr, path, MAX_PATH));
    return program.substr(0, program.find_last_of(L"\\/") + 1) + name;
}

ActionLibrary::ActionLibrary()
{
    m_module.reset(::LoadLibraryW(BesideTestProgram(L"QXLockPermissions.dll").c_str()));
}

LogCapture::LogCapture()
    : m_previousHandler(::MsiSetExternalUIW(&LogCapture::Handler, INSTALLLOGMODE_INFO, this)),
      m_previousLevel(::MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr))
{
}

LogCapture::~LogCapture()
{
    ::MsiSetExternalUIW(m_previousHandler, m_previousHandler ? INSTALLLOGMODE_INFO : 0, nullptr);
    ::MsiSetInternalUI(m_previousLevel, nullptr);
}

int WINAPI LogCapture::Handler(LPVOID context, UINT messageType, LPCWSTR message)
{
    // Our lines read "Qelmora h:mm:ss: text"; the installer expands [Time].
    const std::wstring line = message ? message : L"";
    const std::size_t separator = line.find(L": ", 8);
    if ((messageType & 0xFF000000u) == INSTALLMESSAGE_INFO && line.compare(0, 8, L"Qelmora ") == 0 &&
        separator != std::wstring::npos) {
        static_cast<LogCapture*>(context)->m_messages.push_back(line.substr(separator + 2));
    }
    return IDOK;
}

InstallerSession InstallerTest::Layers()
{
    if (!m_database) {
        m_database.reset(::MsiGetActiveDatabase(m_session.get()));
    }
    return {m_session.get(), m_database.get(), m_sessionLog};
}

void InstallerTest::TearDown()
{
    m_database.reset();
    m_session.reset();
    EXPECT_EQ(0u, ::MsiCloseAllHandles()) << "installer handles left open";
}

void InstallerTest::StartSession(const PackageBuilder& builder)
{
    std::wstring error;
    m_package = builder.Build(&error);
    ASSERT_TRUE(m_package) << std::string(error.begin(), error.end());
    RestartSession();
}

void InstallerTest::RestartSession()
{
    m_database.reset();
    m_session.reset();
    ASSERT_EQ(0u, ::MsiOpenPackageW(m_package->Path().c_str(), m_session.put()));
    for (const wchar_t* action : {L"CostInitialize", L"FileCost", L"CostFinalize"}) {
        ASSERT_EQ(0u, ::MsiDoActionW(m_session.get(), action)) << action;
    }
}

UINT InstallerTest::RunExport(const char* name)
{
    ActionLibrary::Action action = m_library.ByName(name);
    EXPECT_TRUE(action) << name << " is not exported";
    return action ? action(Session()) : ERROR_PROC_NOT_FOUND;
}

} // namespace qxtest
