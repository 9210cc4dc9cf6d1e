#include "InstallerFixture.h"

#include "msi/InstallerLog.h"

namespace qxtest {

ActionLibrary::ActionLibrary()
{
    wchar_t path[MAX_PATH] = {};
    std::wstring folder(path, ::GetModuleFileNameW(nullptr, path, MAX_PATH));
    folder.resize(folder.find_last_of(L"\\/") + 1);
    m_module.reset(::LoadLibraryW((folder + L"QXLockPermissions.dll").c_str()));
}

ActionLibrary::Action ActionLibrary::ByName(const char* name) const
{
    return reinterpret_cast<Action>(reinterpret_cast<void*>(::GetProcAddress(m_module.get(), name)));
}

UINT ExecuteSql(MSIHANDLE database, const std::wstring& query)
{
    qx::unique_msihandle view;
    UINT result = ::MsiDatabaseOpenViewW(database, query.c_str(), view.put());
    return result == ERROR_SUCCESS ? ::MsiViewExecute(view.get(), 0) : result;
}

void SessionLog::Log(const _stringx<>& message)
{
    WriteLogLine(m_session.get(), message);
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
    m_database.reset();
    m_session.reset();
    ASSERT_EQ(0u, ::MsiOpenPackageW(m_package->Path().c_str(), m_session.put()));
    for (const wchar_t* action : {L"CostInitialize", L"FileCost", L"CostFinalize"}) {
        ASSERT_EQ(0u, ::MsiDoActionW(m_session.get(), action)) << action;
    }
}

std::wstring InstallerTest::GetProperty(const wchar_t* name) const
{
    DWORD size = 0;
    wchar_t empty[1] = {};
    ::MsiGetPropertyW(m_session.get(), name, empty, &size);
    std::wstring value(size + 1, L'\0');
    size = static_cast<DWORD>(value.size());
    value.resize(::MsiGetPropertyW(m_session.get(), name, &value[0], &size) == ERROR_SUCCESS ? size : 0);
    return value;
}

UINT InstallerTest::RunExport(const char* name)
{
    ActionLibrary::Action action = m_library.ByName(name);
    if (!action) {
        ADD_FAILURE() << name << " is not exported";
        return ERROR_PROC_NOT_FOUND;
    }
    return action(Session());
}

} // namespace qxtest
