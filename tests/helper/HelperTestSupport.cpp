#include "HelperTestSupport.h"

#include <objbase.h>
#include <tlhelp32.h>

#include "inc/ComHolders.h"

namespace helper_test {

std::wstring ProgramFolder()
{
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    return folder.substr(0, folder.rfind(L'\\') + 1);
}

std::wstring HelperPath()
{
    return ProgramFolder() + L"QXBEW.exe";
}

std::wstring TempFolder()
{
    wchar_t path[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, path);
    return path;
}

std::wstring NewGuidText()
{
    GUID guid = {};
    EXPECT_EQ(S_OK, ::CoCreateGuid(&guid));
    wchar_t text[64] = {};
    ::StringFromGUID2(guid, text, 64);
    return text;
}

std::vector<DWORD> ProcessesNamed(const std::wstring& exeName)
{
    std::vector<DWORD> ids;
    qx::handle_holder snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) {
        ADD_FAILURE() << "no process snapshot";
        return ids;
    }
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
        if (_wcsicmp(entry.szExeFile, exeName.c_str()) == 0) {
            ids.push_back(entry.th32ProcessID);
        }
    }
    return ids;
}

bool WaitUntilNoProcess(const std::wstring& exeName, DWORD timeoutMs)
{
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    for (;;) {
        std::vector<DWORD> ids = ProcessesNamed(exeName);
        if (ids.empty()) {
            return true;
        }
        for (DWORD id : ids) {
            qx::handle_holder process(::OpenProcess(SYNCHRONIZE, FALSE, id));
            ULONGLONG now = ::GetTickCount64();
            if (process && now < deadline) {
                ::WaitForSingleObject(process.get(), static_cast<DWORD>(deadline - now));
            }
        }
        if (::GetTickCount64() >= deadline) {
            return ProcessesNamed(exeName).empty();
        }
        ::Sleep(50);
    }
}

std::set<std::wstring> RegisteredHelperMonikers()
{
    std::set<std::wstring> names;
    qx::com_ptr<IRunningObjectTable> table;
    qx::com_ptr<IEnumMoniker> monikers;
    qx::com_ptr<IBindCtx> context;
    if (FAILED(::GetRunningObjectTable(0, table.put())) || FAILED(table->EnumRunning(monikers.put()))
        || FAILED(::CreateBindCtx(0, context.put()))) {
        ADD_FAILURE() << "running object table not enumerable";
        return names;
    }
    for (;;) {
        qx::com_ptr<IMoniker> moniker;
        if (monikers->Next(1, moniker.put(), nullptr) != S_OK) {
            break;
        }
        LPOLESTR name = nullptr;
        if (SUCCEEDED(moniker->GetDisplayName(context.get(), nullptr, &name)) && name) {
            if (name[0] == L'!' && name[1] == L'{') {
                names.insert(name);
            }
            ::CoTaskMemFree(name);
        }
    }
    return names;
}

std::set<std::wstring> FolderEntries(const std::wstring& folder)
{
    std::set<std::wstring> names;
    WIN32_FIND_DATAW found = {};
    HANDLE search = ::FindFirstFileW((folder + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") {
            names.insert(name);
        }
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return names;
}

std::vector<char> ReadFileBytes(const std::wstring& path)
{
    std::vector<char> bytes;
    qx::handle_holder file(
        ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) {
        return bytes;
    }
    char chunk[65536];
    DWORD read = 0;
    while (::ReadFile(file.get(), chunk, sizeof(chunk), &read, nullptr) && read > 0) {
        bytes.insert(bytes.end(), chunk, chunk + read);
    }
    return bytes;
}

bool RemoveFolder(const std::wstring& folder)
{
    std::wstring withSlash = folder.back() == L'\\' ? folder : folder + L"\\";
    for (const std::wstring& name : FolderEntries(withSlash)) {
        ::DeleteFileW((withSlash + name).c_str());
    }
    ::RemoveDirectoryW(withSlash.c_str());
    return ::GetFileAttributesW(withSlash.c_str()) == INVALID_FILE_ATTRIBUTES;
}

} // namespace helper_test

void HelperProcessTest::SetUp()
{
    m_com = ::CoInitialize(nullptr);
    ASSERT_TRUE(SUCCEEDED(m_com));
}

void HelperProcessTest::TearDown()
{
    // A released proxy lets its helper end within moments; none may linger.
    EXPECT_TRUE(helper_test::WaitUntilNoProcess(L"QXBEW.exe", 10000)) << "a helper process is still running";
    if (SUCCEEDED(m_com)) {
        ::CoUninitialize();
    }
}

namespace {

// Starts the RPC service, which holds COM's running object table, and waits until it
// runs. Wine starts it on a program's first use of the table, but in a prefix whose
// system processes are (re)starting the service database stays locked for seconds,
// and a process whose first call fails that way never reaches the table afterwards.
bool StartRpcService(DWORD timeoutMs)
{
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? ::OpenServiceW(manager, L"RpcSs", SERVICE_START | SERVICE_QUERY_STATUS) : nullptr;
    bool running = false;
    while (service && !running && ::GetTickCount64() < deadline) {
        SERVICE_STATUS status = {};
        if (::QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_RUNNING) {
            running = true;
            break;
        }
        if (status.dwCurrentState == SERVICE_STOPPED) {
            ::StartServiceW(service, 0, nullptr); // refused while the database is locked: try again
        }
        ::Sleep(250);
    }
    if (service) {
        ::CloseServiceHandle(service);
    }
    if (manager) {
        ::CloseServiceHandle(manager);
    }
    return running;
}

class RunningObjectTableStart : public ::testing::Environment {
public:
    void SetUp() override
    {
        ASSERT_TRUE(StartRpcService(90000)) << "the RPC service does not start";
        HRESULT com = ::CoInitialize(nullptr);
        qx::com_ptr<IRunningObjectTable> table;
        qx::com_ptr<IEnumMoniker> monikers;
        HRESULT hr = ::GetRunningObjectTable(0, table.put());
        if (SUCCEEDED(hr)) {
            hr = table->EnumRunning(monikers.put());
        }
        EXPECT_EQ(S_OK, hr) << "the running object table does not answer: " << std::hex << hr;
        monikers.reset();
        table.reset();
        if (SUCCEEDED(com)) {
            ::CoUninitialize();
        }
    }
};

const ::testing::Environment* const g_rotStart = ::testing::AddGlobalTestEnvironment(new RunningObjectTableStart);

} // namespace
