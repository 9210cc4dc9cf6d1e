// The helper written out of this program's resources (it carries the real QXBEW.exe
// as the 32-bit library does), started, bound, called, ended and removed.
#include <gtest/gtest.h>

#include <windows.h>
#include <process.h>
#include <tlhelp32.h>

#include <filesystem>
#include <regex>
#include <thread>
#include <tuple>

#include "InstallerFixture.h"
#include "RecordingLog.h"
#include "RpcService.h"
#include "ScratchFolder.h"
#include "SecurityTestSupport.h"
#include "kernel_stubs.h"
#include "entry/LockPermissionsManager.h"
#include "helper64/CoCreate.h"
#include "helper64/CreateBitUtilsHelper.h"
#include "helper64/ExtractHelper.h"
#include "helper64/ModuleLock.h"
#include "support/com_apartment.h"
#include "support/com_ptr.h"

namespace {

namespace fs = std::filesystem;

std::wstring TempFolder() // with a trailing backslash, as the library's own names have it
{
    wchar_t path[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, path);
    return path;
}

size_t ProcessCount(const std::wstring& exeName)
{
    size_t count = 0;
    qx::unique_file snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
        count += _wcsicmp(entry.szExeFile, exeName.c_str()) == 0;
    }
    return count;
}

// TMP (and so the temporary folder) points at a folder of the test's own for the scope.
struct TempFolderAt {
    explicit TempFolderAt(const std::wstring& folder) { ::SetEnvironmentVariableW(L"TMP", folder.c_str()); }
    ~TempFolderAt() { ::SetEnvironmentVariableW(L"TMP", saved.c_str()); }
    const std::wstring saved = TempFolder();
};

// The access list of the last folder made, as text; g_denyFolder refuses the folder.
std::wstring g_folderList;
bool g_denyFolder = false;

BOOL WINAPI RecordingCreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES attributes)
{
    g_folderList = attributes ? qxtest::DescriptorText(attributes->lpSecurityDescriptor) : L"";
    ::SetLastError(ERROR_ACCESS_DENIED); // what a refused folder reports
    return !g_denyFolder && ::CreateDirectoryW(path, attributes);
}

// Without the resource its folder stays: the caller removes only what succeeded. Without a
// folder of its own nothing is written: in the temporary folder anyone could plant DLLs beside it.
TEST(HelperExtraction, FailuresAreLoggedAndWriteNothingOutsideAFolderOfItsOwn)
{
    const std::tuple<const wchar_t*, bool, const wchar_t*> rows[] = {
        {nullptr, true, L"Failed to create a secure folder for QXBEW.exe, error 0x00000005"},
        {L"kernel32.dll", false, L"Error extracting QXBEW.exe from QXLockPermissions.dll"},
    };
    const qxtest::ScratchFolder scratch;
    const TempFolderAt temp(scratch.path);
    scoped_kernel_stubs recording{stub("CreateDirectoryW", RecordingCreateDirectoryW)};
    for (const auto& [module, denyFolder, line] : rows) {
        g_denyFolder = denyFolder;
        qxtest::RecordingLog logger;
        EXPECT_EQ(L"", ExtractHelperExecutable(logger, ::GetModuleHandleW(module)).str());
        EXPECT_EQ(std::vector<std::wstring>{line}, logger.lines);
        EXPECT_EQ(denyFolder ? 0 : 1, std::distance(fs::directory_iterator(scratch.path), {})) << "entries so far";
    }
    g_denyFolder = false;
}

// The helper may hold its image open for a moment after it ends: the file is tried
// again until it goes, and its folder with it, but never the temporary folder.
TEST(HelperExtraction, RemovalRetriesAndNeverTakesTheTemporaryFolder)
{
    for (bool temporary : {false, true}) {
        const qxtest::ScratchFolder scratch;
        const TempFolderAt temp(scratch.path);
        const std::wstring file = scratch.path + (temporary ? L"wac1.tmp" : L"own\\wac1.tmp");
        fs::create_directories(fs::path(file).parent_path()); // nothing else: an empty folder could go
        // Held without delete sharing for the first attempt and a bit of the next wait.
        HANDLE held = ::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, held);
        std::thread releaser([held] {
            ::Sleep(700);
            ::CloseHandle(held);
        });
        RemoveHelperExecutable(file.c_str());
        releaser.join();
        EXPECT_FALSE(fs::exists(file)) << file;
        EXPECT_EQ(temporary, fs::exists(fs::path(file).parent_path())) << file;
    }
}

class HelperActivation : public ::testing::Test {
protected:
    // Before this process's first use of the running object table (RpcService.h).
    static void SetUpTestSuite() { ASSERT_TRUE(qxtest::StartRpcService()) << "the RPC service does not start"; }

    qx::com_apartment m_com;
    qxtest::RecordingLog m_logger;
};

// Ended when the bind gives up, so that its file can go. Its path has a blank beside a
// helper "run.exe" that a command line taken apart at its blanks would start.
TEST_F(HelperActivation, ProgramThatNeverRegistersIsEndedAndRemoved)
{
    const qxtest::ScratchFolder scratch;
    const std::wstring file = scratch.path + L"run here\\wac1.tmp";
    ASSERT_TRUE(fs::create_directory(scratch.path + L"run here"));
    fs::copy_file(qxtest::BesideTestProgram(L"qx_idle.exe"), file);
    fs::copy_file(qxtest::BesideTestProgram(L"QXBEW.exe"), scratch.path + L"run.exe");
    void* dispatch = &m_com;
    qx::unique_handle process;
    EXPECT_EQ(MK_E_UNAVAILABLE, CoCreateFromExecutable(file.c_str(), CLSID_QXBEWUtils, IID_IDispatch, &dispatch,
                                                       &process, qx::bind_polling{5, 20, 200}));
    EXPECT_EQ(nullptr, dispatch);
    EXPECT_FALSE(process) << "the caller got a process to end";
    EXPECT_EQ(0u, ProcessCount(L"wac1.tmp")) << "the program outlived the failed bind";
    RemoveHelperExecutable(file.c_str());
    EXPECT_FALSE(fs::exists(scratch.path + L"run here"));
}

// The library's round: written out, started from its wac….tmp name, an item set on a real
// key in its own view (flag 8, a 64-bit component), released, ended, deleted. Two creations
// are two helpers, so under two names: a helper whose name is taken ends at once.
TEST_F(HelperActivation, ExtractedHelpersSetItemsAndLeaveNothing)
{
    const std::wstring subKey = L"Software\\QXLockTest" + std::to_wstring(::GetCurrentProcessId());
    qx::unique_hkey key;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyW(HKEY_LOCAL_MACHINE, subKey.c_str(), key.put()));
    scoped_kernel_stubs recording{stub("CreateDirectoryW", RecordingCreateDirectoryW)};
    const std::wstring path = ExtractHelperExecutable(m_logger, ::GetModuleHandleW(nullptr)).str();
    // Users may read and run what is in it; only Administrators and LocalSystem may write.
    EXPECT_EQ(L"D:P(A;OICI;0x1200a9;;;BU)(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", g_folderList);
    // Windows writes the file's unique number in four hexadecimal digits, Wine without leading zeros.
    const std::wregex form(L"\\{[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\\}\\\\wac[0-9A-Fa-f]{1,4}\\.tmp");
    EXPECT_TRUE(std::regex_match(path.substr(TempFolder().size()), form)) << path;
    EXPECT_EQ(1, std::distance(fs::directory_iterator(fs::path(path).parent_path()), {}));
    EXPECT_EQ(std::vector<std::wstring>{L"Extracted QXBEW.exe to '" + path + L"'"}, m_logger.lines);
    const std::wstring program = fs::path(path).filename().wstring();
    {
        qx::com_ptr<IQXBEWUtils> helpers[2];
        _stringx<> name(L"MACHINE\\" + subKey), guests(L"S-1-5-32-546");
        for (auto& helper : helpers) {
            ASSERT_EQ(S_OK, CreateBitUtilsHelper(m_logger, path, helper.put()));
            ULONG result = ERROR_INVALID_DATA;
            EXPECT_EQ(S_OK, helper->SetObjectPermissions(name.bstr(), nullptr, guests.bstr(), SE_REGISTRY_KEY, KEY_READ,
                                                         LOCKPERM_COMPONENT_64BIT | LOCKPERM_NO_PROPAGATE, &result));
            EXPECT_EQ(0u, result);
        }
        EXPECT_EQ(2u, ProcessCount(program));
        EXPECT_EQ(2, qx::module_lock_count()) << "each proxy locks the module";
    }
    EXPECT_EQ(0u, ProcessCount(program)) << "a helper outlived its proxy";
    EXPECT_EQ(0, qx::module_lock_count()) << "a proxy kept its lock on the library";
    RemoveHelperExecutable(path.c_str());
    EXPECT_FALSE(fs::exists(fs::path(path).parent_path())) << path;
    const std::wstring list = qxtest::DaclText(L"MACHINE\\" + subKey);
    EXPECT_NE(std::wstring::npos, list.find(L"(A;NP;KR;;;BG)")) << list;
    EXPECT_EQ(ERROR_SUCCESS, ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, subKey.c_str()));
}

// Only the 32-bit library on 64-bit Windows writes the helper out (this 64-bit
// program stands in for it, with the helper in its resources): the manager removes
// the helper's file and folder when it ends, whatever became of its items.
class HelperCleanUp : public qxtest::InstallerTest { };

TEST_F(HelperCleanUp, TheManagerRemovesTheHelperItWroteOut)
{
    ASSERT_NO_FATAL_FAILURE(StartSession(qxtest::PackageBuilder()));
    ASSERT_EQ(0u, SetProperty(L"CustomActionData", L"C:\\QXNoSuchFolder\\a.txt|File||Users|1|12"));
    {
        scoped_wow64 wow64;
        CQxLockPermissionsManager manager(Session());
        EXPECT_EQ(0u, manager.RunInstall());
    }
    const std::wstring extracted = L"Extracted QXBEW.exe to '";
    const std::vector<std::wstring>& lines = m_log.LibraryMessages();
    ASSERT_FALSE(lines.empty());
    ASSERT_EQ(0u, lines[0].find(extracted)) << testing::PrintToString(lines);
    const fs::path helper = lines[0].substr(extracted.size(), lines[0].size() - extracted.size() - 1);
    EXPECT_FALSE(fs::exists(helper)) << helper;
    EXPECT_FALSE(fs::exists(helper.parent_path())) << helper;
    EXPECT_TRUE(fs::exists(TempFolder()));
}

// Someone else holding the name the client binds to would get the client's items:
// the helper then serves nothing and ends with a code of its own.
TEST_F(HelperActivation, HelperWhoseNameIsTakenEndsWithoutServing)
{
    const std::wstring instance = L"{0A1B2C3D-4E5F-4061-8273-94A5B6C7D8E9}";
    qx::com_ptr<IMoniker> moniker;
    qx::com_ptr<IRunningObjectTable> table;
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, ::CreateItemMoniker(L"!", instance.c_str(), moniker.put()));
    ASSERT_EQ(S_OK, ::GetRunningObjectTable(0, table.put()));
    ASSERT_EQ(S_OK, table->Register(ROTFLAGS_REGISTRATIONKEEPSALIVE, moniker.get(), moniker.get(), &cookie));
    const std::wstring argument = L"{EFB7539B-24F3-46B6-AF6E-3B021B51EFEF}:" + instance;
    EXPECT_EQ(
        3, _wspawnl(_P_WAIT, qxtest::BesideTestProgram(L"QXBEW.exe").c_str(), L"QXBEW.exe", argument.c_str(), nullptr));
    EXPECT_EQ(S_OK, table->Revoke(cookie));
}

} // namespace
