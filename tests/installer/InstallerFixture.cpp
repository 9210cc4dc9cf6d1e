#include "InstallerFixture.h"

namespace qxtest {

ActionLibrary::ActionLibrary()
{
    wchar_t path[MAX_PATH] = {};
    std::wstring folder(path, ::GetModuleFileNameW(nullptr, path, MAX_PATH));
    folder.resize(folder.find_last_of(L"\\/") + 1);
    m_module = ::LoadLibraryW((folder + L"QXLockPermissions.dll").c_str());
}

ActionLibrary::~ActionLibrary()
{
    if (m_module) {
        ::FreeLibrary(m_module);
    }
}

ActionLibrary::Action ActionLibrary::ByName(const char* name) const
{
    return reinterpret_cast<Action>(reinterpret_cast<void*>(::GetProcAddress(m_module, name)));
}

ActionLibrary::Action ActionLibrary::ByOrdinal(WORD ordinal) const
{
    return reinterpret_cast<Action>(reinterpret_cast<void*>(::GetProcAddress(m_module, MAKEINTRESOURCEA(ordinal))));
}

void InstallerTest::TearDown()
{
    m_session.Close();
    EXPECT_EQ(0u, ::MsiCloseAllHandles()) << "installer handles left open";
}

void InstallerTest::StartSession(const PackageBuilder& builder)
{
    m_package = builder.Build();
    ASSERT_TRUE(m_package);
    ASSERT_EQ(0u, m_session.OpenAndCost(*m_package));
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
