// The proxy against the real QXBEW.exe: start, bind through the running object
// table, calls across the process boundary, and the helper's end.
#include <gtest/gtest.h>

#include <windows.h>
#include <tlhelp32.h>

#include <set>
#include <string>

#include "HelperTestSupport.h"
#include "RecordingLog.h"
#include "RpcService.h"
#include "SecurityTestSupport.h"
#include "helper64/CreateBitUtilsHelper.h"
#include "helper64/ExtractHelper.h"
#include "helper64/HelperRoute.h"
#include "helper64/ModuleLock.h"
#include "helper64/QXBEWUtils.h"
#include "inc/CoCreate.h"
#include "support/com_apartment.h"
#include "support/com_ptr.h"
#include "support/unique_any.h"
#include "support/variant.h"

using namespace helper_test;

namespace {

// Before any test's first use of the running object table (RpcService.h).
class RpcServiceStart : public ::testing::Environment {
public:
    void SetUp() override { EXPECT_TRUE(qxtest::StartRpcService()) << "the RPC service does not start"; }
};

const ::testing::Environment* const g_rpcStart = ::testing::AddGlobalTestEnvironment(new RpcServiceStart);

size_t ProcessCount(const wchar_t* exeName)
{
    size_t count = 0;
    qx::unique_file snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
        count += _wcsicmp(entry.szExeFile, exeName) == 0;
    }
    return count;
}

// A released proxy lets its helper end within moments.
bool WaitUntilNoProcess(const wchar_t* exeName)
{
    for (ULONGLONG deadline = ::GetTickCount64() + 10000; ProcessCount(exeName) > 0 && ::GetTickCount64() < deadline;) {
        ::Sleep(50);
    }
    return ProcessCount(exeName) == 0;
}

// The item monikers "!{GUID}" in the running object table.
std::set<std::wstring> HelperRegistrations()
{
    std::set<std::wstring> names;
    qx::com_ptr<IRunningObjectTable> table;
    qx::com_ptr<IEnumMoniker> monikers;
    qx::com_ptr<IBindCtx> context;
    if (FAILED(::GetRunningObjectTable(0, table.put())) || FAILED(table->EnumRunning(monikers.put())) ||
        FAILED(::CreateBindCtx(0, context.put()))) {
        ADD_FAILURE() << "the running object table cannot be listed";
        return names;
    }
    for (qx::com_ptr<IMoniker> moniker; monikers->Next(1, moniker.put(), nullptr) == S_OK;) {
        LPOLESTR name = nullptr;
        if (SUCCEEDED(moniker->GetDisplayName(context.get(), nullptr, &name))) {
            if (wcsncmp(name, L"!{", 2) == 0) {
                names.insert(name);
            }
            ::CoTaskMemFree(name);
        }
    }
    return names;
}

// COM for the test thread; no helper may outlive a test.
class HelperActivation : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(m_com.result())); }
    void TearDown() override { EXPECT_TRUE(WaitUntilNoProcess(L"QXBEW.exe")) << "a helper is still running"; }

    qx::com_apartment m_com;
    qxtest::RecordingLog m_logger;
    const std::wstring m_unique = std::to_wstring(::GetCurrentProcessId());
};

// A 64-bit component's key with flag 2 goes to the helper (any bit of 0x16 does)
// and is locked there in the 64-bit view. (The 32-bit view's keys are handed to
// the same calls with SE_REGISTRY_WOW64_32KEY, which Wine's security functions
// accept and ignore: that decision is tested on the helper's object in this process.)
TEST_F(HelperActivation, ApplyItemSetsTheRegistryItemInTheHelperProcess)
{
    const std::wstring subKey = L"Software\\QXLockTest" + m_unique;
    qx::unique_hkey key;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                               nullptr, key.put(), nullptr));
    key.reset();
    const PermissionsItem item = qxtest::MakeItem(L"MACHINE\\" + subKey, LockObjectKind::Registry, L"S-1-5-32-546",
                                                  KEY_READ, LOCKPERM_COMPONENT_64BIT | LOCKPERM_NO_PROPAGATE);
    auto realHelper = [this](IQXBEWUtils** helper) {
        return CreateBitUtilsHelper(m_logger, HelperPath().c_str(), helper);
    };
    EXPECT_EQ(0u, ApplyItemThroughHelper(m_logger, realHelper, item));
    // The access-entry messages belong to the helper process: only the route's line is here.
    EXPECT_EQ(std::vector<std::wstring>{L"Processing registry object 'MACHINE\\" + subKey + L"' in 64-bit outproc"},
              m_logger.lines);
    EXPECT_NE(std::wstring::npos, qxtest::DaclText(L"MACHINE\\" + subKey).find(L"(A;NP;KR;;;BG)"))
        << qxtest::DaclText(L"MACHINE\\" + subKey);
    EXPECT_EQ(ERROR_SUCCESS, ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, subKey.c_str()));
}

TEST_F(HelperActivation, ProgramThatCannotStartIsLoggedAndReturned)
{
    for (const wchar_t* path : {L"", L"C:\\no\\such\\folder\\QXBEW.exe"}) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(path)));
        qxtest::RecordingLog logger;
        IQXBEWUtils* helper = reinterpret_cast<IQXBEWUtils*>(1);
        EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), CreateBitUtilsHelper(logger, path, &helper));
        EXPECT_EQ(nullptr, helper);
        EXPECT_EQ(std::vector<std::wstring>{L"Failed to initialize 64-bit helper, error 80070002"}, logger.lines);
    }
}

// A helper that starts but never registers is ended when the bind gives up, so
// that the action can delete its file and folder, as it does with the real one.
TEST_F(HelperActivation, ProgramThatNeverRegistersIsEndedAndRemoved)
{
    const std::wstring folder = TempFolder() + L"{qxtest" + m_unique + L"}\\";
    const std::wstring file = folder + L"wac1.tmp";
    ASSERT_TRUE(RemoveFolder(folder));
    ASSERT_TRUE(fs::create_directories(folder));
    ASSERT_TRUE(::CopyFileW(IdleProgramPath().c_str(), file.c_str(), TRUE));
    qx::bind_polling quick;
    quick.attempts = 5;
    quick.delayMs = 20;
    quick.endWaitMs = 200;
    void* dispatch = &quick;
    qx::unique_handle process;
    ULONGLONG started = ::GetTickCount64();
    EXPECT_EQ(MK_E_UNAVAILABLE,
              CoCreateFromExecutable(file.c_str(), CLSID_QXBEWUtils, IID_IDispatch, &dispatch, &process, quick));
    EXPECT_EQ(nullptr, dispatch);
    EXPECT_FALSE(process) << "the caller got a process to end";
    EXPECT_GE(::GetTickCount64() - started, 5u * 20u) << "every attempt waits before the next";
    EXPECT_EQ(0u, ProcessCount(L"wac1.tmp")) << "the program outlived the failed bind";
    RemoveHelperExecutable(file.c_str());
    EXPECT_FALSE(fs::exists(file));
    EXPECT_FALSE(fs::exists(folder));
}

// The whole round of the 32-bit library: written out of the resources (this
// program carries the helper as the library does), started from its wac….tmp
// name, one item, released, ended, and its file and folder deleted.
TEST_F(HelperActivation, ExtractedHelperServesOneItemAndLeavesNothing)
{
    const std::wstring path = ExtractHelperExecutable(m_logger, ::GetModuleHandleW(nullptr)).str();
    ASSERT_FALSE(path.empty());
    const std::wstring program = fs::path(path).filename().wstring();
    {
        qx::com_ptr<IQXBEWUtils> helper;
        ASSERT_EQ(S_OK, CreateBitUtilsHelper(m_logger, path.c_str(), helper.put()));
        EXPECT_EQ(1u, ProcessCount(program.c_str())) << "not started from its own name";
        ULONG result = ERROR_INVALID_DATA;
        _stringx<> name(L"MACHINE\\Software\\QXLockTestNoSuchKey");
        EXPECT_EQ(S_OK, helper->SetObjectPermissions(name.bstr(), nullptr, _stringx<>(L"Users").bstr(), SE_REGISTRY_KEY,
                                                     KEY_READ, LOCKPERM_COMPONENT_64BIT, &result));
        EXPECT_EQ(static_cast<ULONG>(ERROR_FILE_NOT_FOUND), result);
    }
    EXPECT_EQ(0u, ProcessCount(program.c_str())) << "the helper outlived its proxy";
    EXPECT_EQ(0, qx::module_lock_count()) << "the proxy kept its lock on the library";
    RemoveHelperExecutable(path.c_str());
    EXPECT_FALSE(fs::exists(path));
    EXPECT_FALSE(fs::exists(fs::path(path).parent_path()));
}

// Someone else holding the name the client binds to would get the client's
// items: the helper then serves nothing and ends with a code of its own.
TEST_F(HelperActivation, HelperWhoseNameIsTakenEndsWithoutServing)
{
    const std::wstring instance = L"{0A1B2C3D-4E5F-4061-8273-94A5B6C7D8E9}";
    qx::com_ptr<IMoniker> moniker;
    qx::com_ptr<IRunningObjectTable> table;
    qx::com_ptr<IBindCtx> squatter;
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, ::CreateItemMoniker(L"!", instance.c_str(), moniker.put()));
    ASSERT_EQ(S_OK, ::GetRunningObjectTable(0, table.put()));
    ASSERT_EQ(S_OK, ::CreateBindCtx(0, squatter.put()));
    ASSERT_EQ(S_OK, table->Register(ROTFLAGS_REGISTRATIONKEEPSALIVE, squatter.get(), moniker.get(), &cookie));

    std::wstring commandLine = L"\"" + HelperPath() + L"\" {EFB7539B-24F3-46B6-AF6E-3B021B51EFEF}:" + instance;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started = {};
    ASSERT_TRUE(::CreateProcessW(HelperPath().c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                 &startup, &started));
    qx::unique_handle process(started.hProcess);
    qx::unique_handle thread(started.hThread);
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(process.get(), 30000));
    DWORD exitCode = 0;
    ::GetExitCodeProcess(process.get(), &exitCode);
    EXPECT_EQ(3u, exitCode);

    qx::com_ptr<IUnknown> bound;
    qx::com_ptr<IUnknown> identity;
    ASSERT_EQ(S_OK, table->GetObject(moniker.get(), bound.put()));
    ASSERT_EQ(S_OK, squatter->QueryInterface(IID_IUnknown, identity.put_void()));
    EXPECT_EQ(identity.get(), bound.get()) << "the name no longer leads to its holder";
    EXPECT_EQ(S_OK, table->Revoke(cookie));
}

TEST_F(HelperActivation, EachCreationStartsItsOwnHelperUnderItsOwnGuid)
{
    qx::com_ptr<IQXBEWUtils> first;
    qx::com_ptr<IQXBEWUtils> second;
    ASSERT_EQ(S_OK, CreateBitUtilsHelper(m_logger, HelperPath().c_str(), first.put()));
    ASSERT_EQ(S_OK, CreateBitUtilsHelper(m_logger, HelperPath().c_str(), second.put()));
    EXPECT_EQ(2u, ProcessCount(L"QXBEW.exe"));
    EXPECT_EQ(2u, HelperRegistrations().size()) << "both helpers registered under the same GUID";
    EXPECT_EQ(2, qx::module_lock_count()) << "each proxy locks the module";
    first.reset();
    second.reset();
    EXPECT_EQ(0, qx::module_lock_count()) << "a proxy kept its lock";
    EXPECT_TRUE(WaitUntilNoProcess(L"QXBEW.exe"));
    EXPECT_TRUE(HelperRegistrations().empty()) << "a helper left its registration behind";
}

TEST_F(HelperActivation, PathWithBlanksStartsTheNamedProgramOnly)
{
    // "<base>\run here\QXBEW.exe" beside a decoy "<base>\run.exe": a command line
    // taken apart at its blanks would start the decoy.
    const std::wstring base = TempFolder() + L"qxtest" + m_unique + L"\\";
    const std::wstring helper = base + L"run here\\QXBEW.exe";
    ASSERT_TRUE(RemoveFolder(base));
    ASSERT_TRUE(fs::create_directories(base + L"run here"));
    ASSERT_TRUE(::CopyFileW(HelperPath().c_str(), helper.c_str(), TRUE));
    ASSERT_TRUE(::CopyFileW(HelperPath().c_str(), (base + L"run.exe").c_str(), TRUE));
    {
        qx::com_ptr<IQXBEWUtils> proxy;
        EXPECT_EQ(S_OK, CreateBitUtilsHelper(m_logger, helper.c_str(), proxy.put()));
        EXPECT_EQ(1u, ProcessCount(L"QXBEW.exe"));
        EXPECT_EQ(0u, ProcessCount(L"run.exe"));
    }
    EXPECT_TRUE(WaitUntilNoProcess(L"QXBEW.exe")); // before its program file can go
    EXPECT_TRUE(RemoveFolder(base));
}

} // namespace
