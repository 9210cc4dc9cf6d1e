#include "Workload.h"

#include <msiquery.h>

#include <cstdio>
#include <set>

#include "BenchPackage.h"
#include "apply/Rollback.h"
#include "cost/CustomActionData.h"
#include "msi/Properties.h"
#include "support/log_sink.h"
#include "support/unique_any.h"

namespace qxbench {

namespace {

long g_logLines = 0;

class SilentLogger : public qx::log_sink {
public:
    void Log(const _stringx<>&) override { }
};

// Makes the files, folders and keys that a costed text names.
bool CreateObjects(const std::vector<FloorItem>& items)
{
    for (const FloorItem& item : items) {
        if (item.type == SE_REGISTRY_KEY) {
            HKEY key = nullptr;
            std::wstring path = item.name.substr(item.name.find(L'\\') + 1); // after MACHINE
            if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                  nullptr) != ERROR_SUCCESS) {
                std::printf("cannot create key %ls\n", item.name.c_str());
                return false;
            }
            qx::unique_hkey created(key);
            continue;
        }
        // Parent folders first; a folder item's name ends in a backslash.
        for (std::size_t at = item.name.find(L'\\', 3); at != std::wstring::npos; at = item.name.find(L'\\', at + 1)) {
            ::CreateDirectoryW(item.name.substr(0, at).c_str(), nullptr);
        }
        if (item.name.back() != L'\\') {
            HANDLE file = ::CreateFileW(item.name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
            if (file == INVALID_HANDLE_VALUE) {
                std::printf("cannot create file %ls\n", item.name.c_str());
                return false;
            }
            qx::unique_file created(file);
        }
    }
    return true;
}

} // namespace

double Now()
{
    static const LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER counter;
    ::QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

int WINAPI CountLogLine(LPVOID, UINT type, LPCWSTR)
{
    if ((type & 0xFF000000u) == INSTALLMESSAGE_INFO) {
        ++g_logLines;
    }
    return IDOK;
}

Workload::Workload(int rows, int rowsPerObject, Action costAction, Action installAction)
    : m_rows(rows), m_rowsPerObject(rowsPerObject), m_costAction(costAction), m_installAction(installAction)
{
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring name = std::to_wstring(rows) + L"x" + std::to_wstring(rowsPerObject);
    m_folder = std::wstring(temp) + L"qxbench-" + name;
    m_root = m_folder + L"\\root\\";
    m_parent = L"Software\\" + std::wstring(kRegistryParent) + name;
}

Workload::~Workload()
{
    m_session.reset();
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, m_parent.c_str());
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, m_parent.c_str());
    DeleteTree(m_folder);
}

bool Workload::Prepare(bool checkCostFloors)
{
    DeleteTree(m_folder);
    ::CreateDirectoryW(m_folder.c_str(), nullptr);
    ::CreateDirectoryW(m_root.c_str(), nullptr);
    double start = Now();
    m_package = WritePackage(m_folder, m_rows, m_rowsPerObject, m_parent.substr(m_parent.find(L'\\') + 1));
    UINT status =
        !m_package ? ERROR_INSTALL_PACKAGE_INVALID : ::MsiOpenPackageW(m_package->Path().c_str(), m_session.put());
    for (const wchar_t* action : {L"CostInitialize", L"FileCost", L"CostFinalize"}) {
        if (status == ERROR_SUCCESS) {
            status = ::MsiDoActionW(m_session.get(), action);
        }
    }
    if (status == ERROR_SUCCESS) {
        status = ::MsiSetTargetPathW(m_session.get(), L"INSTALLDIR", m_root.c_str());
    }
    if (status != ERROR_SUCCESS) {
        return Fail("no costed session", status);
    }

    g_logLines = 0;
    if (m_costAction(m_session.get()) != ERROR_SUCCESS) {
        return Fail("the cost action failed", 0);
    }
    const long costLines = g_logLines;
    m_text = GetProperty(m_session.get(), kInstallDataProperty).str();
    for (auto floor : {&CostFloor, &CostUnavoidableFloor}) {
        g_logLines = 0;
        if (checkCostFloors && (floor(m_session.get()) != m_text || g_logLines != costLines)) {
            return Fail("a cost floor wrote another text or another number of log lines", 0);
        }
    }
    m_items = FloorItems(m_text);
    std::set<std::wstring> objects;
    for (const FloorItem& item : m_items) {
        objects.insert(item.name + L'|' + std::to_wstring(item.type));
    }
    m_objects = static_cast<int>(objects.size());
    if (m_items.size() != static_cast<std::size_t>(m_rows)) {
        return Fail("costing did not keep every row", 0);
    }
    if (!CreateObjects(m_items) ||
        ::MsiSetPropertyW(m_session.get(), L"CustomActionData", m_text.c_str()) != ERROR_SUCCESS) {
        return Fail("objects not made", 0);
    }

    g_logLines = 0;
    Check(m_installAction(m_session.get()));
    const long installLines = g_logLines;
    // The unavoidable floor must write what the library writes, two lines an
    // object (the per-row floor writes its two a row).
    g_logLines = 0;
    InstallUnavoidableFloor(m_session.get(), m_items);
    if (g_logLines != installLines) {
        return Fail("the unavoidable install floor wrote another number of log lines", 0);
    }
    std::printf("N=%d x%d: ready in %.1f s\n", m_rows, m_rowsPerObject, (Now() - start) / 1000);
    std::fflush(stdout);
    return !m_failed;
}

double Workload::Cost(Runner runner)
{
    double start = Now();
    switch (runner) {
    case Runner::Library:
        Check(m_costAction(m_session.get()));
        break;
    case Runner::RowFloor:
        CostFloor(m_session.get());
        break;
    case Runner::Floor:
        CostUnavoidableFloor(m_session.get());
        break;
    }
    return Now() - start;
}

double Workload::Install(Runner runner)
{
    double start = Now();
    switch (runner) {
    case Runner::Library:
        Check(m_installAction(m_session.get()));
        break;
    case Runner::RowFloor:
        Check(InstallFloor(m_session.get(), m_items));
        break;
    case Runner::Floor:
        Check(InstallUnavoidableFloor(m_session.get(), m_items));
        break;
    }
    return Now() - start;
}

double Workload::Parse()
{
    const _stringx<> text(m_text.c_str(), m_text.size());
    std::vector<PermissionsItem> items;
    SilentLogger logger;
    double start = Now();
    const bool read = ParseCustomActionData(text, items, logger);
    double ms = Now() - start;
    if (!read || items.size() != m_items.size()) {
        Fail("the text did not read back", ERROR_INVALID_DATA);
    }
    return ms;
}

double Workload::Capture()
{
    std::vector<PermissionsItem> items;
    SilentLogger logger;
    ParseCustomActionData(_stringx<>(m_text.c_str(), m_text.size()), items, logger);
    CSecurityFunctions security;
    CAccessListCapture capture(security, logger);
    double start = Now();
    for (const PermissionsItem& item : items) {
        capture.Capture(item);
    }
    double ms = Now() - start;
    if (items.size() != m_items.size() || capture.Data().empty()) {
        Fail("the capture read no list", 0);
    }
    return ms;
}

ActionSplit Workload::SplitCost()
{
    ActionSplit split = qxbench::SplitCost(m_session.get());
    Check(split.result);
    return split;
}

ActionSplit Workload::SplitInstall()
{
    ActionSplit split = qxbench::SplitInstall(m_session.get());
    Check(split.result);
    return split;
}

CallCosts Workload::MeasureCalls()
{
    std::vector<std::wstring> fileKeys;
    for (int object = 0; object < m_objects; ++object) {
        if (KindOfObject(object) == RowKind::File) {
            fileKeys.push_back(ObjectKey(object));
        }
    }
    return qxbench::MeasureCalls(m_session.get(), m_items, fileKeys);
}

bool Workload::Fail(const char* what, DWORD code)
{
    std::printf("N=%d x%d: %s (%lu)\n", m_rows, m_rowsPerObject, what, code);
    m_failed = true;
    return false;
}

void Workload::Check(DWORD result)
{
    if (result != ERROR_SUCCESS) {
        Fail("an action or a floor failed", result);
    }
}

} // namespace qxbench
