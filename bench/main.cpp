// Times the two custom actions and the custom action data reader against the
// platform calls they cannot avoid, for N and 2N lock rows, in one process.
//
//   qx_bench [--sizes 1000,10000] [--rounds 5] [--helper-rounds 5]
//
// --sizes 0 leaves the sizes out: the helper round alone.
//
// Each size has its own package, costed session and objects. Four phases run
// one after the other:
//   cost     the exported cost action on the costed session, and the cost floor;
//   install  the exported install action on the files, folders and keys that
//            costing named, and the install floor on the same objects;
//   parse    ParseCustomActionData on the text of the size's records;
//   capture  the cost action's capture of access lists for rollback, alone.
// Within a phase every round runs both sizes of a pair, library and floor each,
// alternating which goes first. On a machine shared with other work, speed
// changes by several times within seconds and other work only ever adds time:
// the tables give the fastest run of each, and the ratios within each round
// (median, lowest, highest) show how far the machine moved.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "BenchPackage.h"
#include "Floors.h"
#include "HelperRound.h"
#include "InstallSplit.h"
#include "apply/Rollback.h"
#include "cost/CustomActionData.h"
#include "support/log_sink.h"
#include "msi/MsiHandle.h"
#include "msi/Properties.h"
#include "support/unique_any.h"

using namespace qxbench;

namespace {

using Action = UINT(WINAPI*)(MSIHANDLE);

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

double Fastest(const std::vector<double>& values)
{
    return values.empty() ? 0 : *std::min_element(values.begin(), values.end());
}

double Median(std::vector<double> values)
{
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// The process's highest working set so far, in MB: process-wide, never lower than
// before, so read at the end of a phase it is the high-water mark up to there.
double PeakWorkingSetMb()
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters);
    return static_cast<double>(counters.PeakWorkingSetSize) / (1024.0 * 1024.0);
}

// Stands in for an installation log: counts the lines, so that library and floor
// can be checked to write as many.
long g_logLines = 0;

int WINAPI CountLogLine(LPVOID, UINT type, LPCWSTR)
{
    if ((type & 0xFF000000u) == INSTALLMESSAGE_INFO) {
        ++g_logLines;
    }
    return IDOK;
}

class SilentLogger : public qx::log_sink {
public:
    void Log(const _stringx<>&) override { }
};

std::wstring ModuleFolder()
{
    wchar_t path[MAX_PATH] = {};
    DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L"\\/") + 1);
}

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

struct Run {
    double ms = 0;
};

template <class Body> Run Timed(Body body)
{
    Run run;
    double start = Now();
    body();
    run.ms = Now() - start;
    return run;
}

// One size: its package, costed session, texts and objects.
class Workload {
public:
    Workload(int rows, Action costAction, Action installAction)
        : m_rows(rows), m_costAction(costAction), m_installAction(installAction)
    {
        wchar_t temp[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, temp);
        m_folder = std::wstring(temp) + L"qxbench-" + std::to_wstring(rows);
        m_root = m_folder + L"\\root\\";
        m_parent = L"Software\\" + std::wstring(kRegistryParent) + std::to_wstring(rows);
    }
    Workload(const Workload&) = delete;
    Workload& operator=(const Workload&) = delete;

    ~Workload()
    {
        m_session.reset();
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, m_parent.c_str());
        ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, m_parent.c_str());
        DeleteTree(m_folder);
    }

    int Rows() const { return m_rows; }
    bool Failed() const { return m_failed; }
    double FirstInstall() const { return m_firstInstall; }

    // The package, the costed session, the text that costing writes (library and
    // floor must write the same, with as many log lines), and the objects it names.
    // The install action's first run, timed alone, is what a real installation
    // does: it writes security that was never written on those objects; the timed
    // rounds write it again.
    bool Prepare()
    {
        DeleteTree(m_folder);
        ::CreateDirectoryW(m_folder.c_str(), nullptr);
        ::CreateDirectoryW(m_root.c_str(), nullptr);
        double start = Now();
        m_package = WritePackage(m_folder, m_rows, m_parent.substr(m_parent.find(L'\\') + 1));
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
        long libraryLines = g_logLines;
        m_text = GetProperty(m_session.get(), kInstallDataProperty).str();
        g_logLines = 0;
        if (qxbench::CostFloor(m_session.get()) != m_text || g_logLines != libraryLines) {
            return Fail("the cost floor wrote another text or another number of log lines", 0);
        }
        m_items = FloorItems(m_text);
        if (m_items.size() != static_cast<std::size_t>(m_rows)) {
            return Fail("costing did not keep every row", 0);
        }
        if (!CreateObjects(m_items) ||
            ::MsiSetPropertyW(m_session.get(), L"CustomActionData", m_text.c_str()) != ERROR_SUCCESS) {
            return Fail("objects not made", 0);
        }

        g_logLines = 0;
        m_firstInstall = Timed([this] { Check(m_installAction(m_session.get())); }).ms;
        libraryLines = g_logLines;
        g_logLines = 0;
        qxbench::InstallFloor(m_session.get(), m_items);
        if (g_logLines != libraryLines) {
            return Fail("the install floor wrote another number of log lines", 0);
        }
        std::printf("N=%d: ready in %.1f s\n", m_rows, (Now() - start) / 1000);
        std::fflush(stdout);
        return !m_failed;
    }

    Run CostLibrary()
    {
        return Timed([this] { Check(m_costAction(m_session.get())); });
    }
    Run CostFloor()
    {
        return Timed([this] { qxbench::CostFloor(m_session.get()); });
    }
    Run InstallLibrary()
    {
        return Timed([this] { Check(m_installAction(m_session.get())); });
    }
    Run InstallFloor()
    {
        return Timed([this] { Check(qxbench::InstallFloor(m_session.get(), m_items)); });
    }
    double Parse()
    {
        const _stringx<> text(m_text.c_str(), m_text.size());
        std::vector<PermissionsItem> items;
        double start = Now();
        const bool read = ParseCustomActionData(text, items, m_logger);
        double ms = Now() - start;
        if (!read || items.size() != m_items.size()) {
            Fail("the text did not read back", ERROR_INVALID_DATA);
        }
        return ms;
    }

    // The cost action's capture for rollback alone: the access list of every
    // object the text names, which the timed rounds find in place.
    double Capture()
    {
        std::vector<PermissionsItem> items;
        ParseCustomActionData(_stringx<>(m_text.c_str(), m_text.size()), items, m_logger);
        CSecurityFunctions security;
        CAccessListCapture capture(security, m_logger);
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

    InstallSplit SplitInstall()
    {
        InstallSplit split = qxbench::SplitInstall(m_session.get());
        Check(split.result);
        return split;
    }

    CallCosts MeasureCalls()
    {
        std::vector<std::wstring> fileKeys;
        for (int row = 0; row < m_rows; ++row) {
            if (KindOfRow(row) == RowKind::File) {
                fileKeys.push_back(ObjectKey(row));
            }
        }
        return qxbench::MeasureCalls(m_session.get(), m_items, fileKeys);
    }

private:
    bool Fail(const char* what, DWORD code)
    {
        std::printf("N=%d: %s (%lu)\n", m_rows, what, code);
        m_failed = true;
        return false;
    }
    void Check(DWORD result)
    {
        if (result != ERROR_SUCCESS) {
            Fail("an action or a floor failed", result);
        }
    }

    int m_rows;
    Action m_costAction;
    Action m_installAction;
    std::wstring m_folder, m_root, m_parent;
    std::unique_ptr<qxtest::Package> m_package;
    qx::unique_msihandle m_session;
    std::wstring m_text;
    std::vector<FloorItem> m_items;
    SilentLogger m_logger;
    double m_firstInstall = 0;
    bool m_failed = false;
};

// One phase of one size over the rounds.
struct Series {
    std::vector<double> library, floor, ratio;
    void Add(const Run& libraryRun, const Run& floorRun)
    {
        library.push_back(libraryRun.ms);
        floor.push_back(floorRun.ms);
        ratio.push_back(libraryRun.ms / floorRun.ms);
    }
};

struct PairResult {
    int rows = 0;
    int rounds = 0;
    Series cost[2], install[2]; // [0] N, [1] 2N
    std::vector<double> parse[2], capture[2];
    double peakMb[3] = {}; // by the end of cost, install, parse
    double firstInstall[2] = {};
    InstallSplit split[2];
    CallCosts calls[2];
};

bool MeasurePair(int rows, int rounds, Action costAction, Action installAction, PairResult& result)
{
    result.rows = rows;
    result.rounds = rounds;
    Workload n(rows, costAction, installAction);
    Workload doubled(2 * rows, costAction, installAction);
    Workload* sizes[2] = {&n, &doubled};
    if (!n.Prepare() || !doubled.Prepare()) {
        return false;
    }
    for (int k = 0; k < 2; ++k) {
        result.firstInstall[k] = sizes[k]->FirstInstall();
    }
    // Which of two goes first alternates from round to round.
    auto ordered = [](int round, int turn) { return round % 2 == 0 ? turn : 1 - turn; };
    for (int phase = 0; phase < 2; ++phase) {
        for (int round = 0; round < rounds; ++round) {
            for (int turn = 0; turn < 2; ++turn) {
                int k = ordered(round, turn);
                Workload& size = *sizes[k];
                Run library, floor;
                for (int which = 0; which < 2; ++which) {
                    if (ordered(round, which) == 0) {
                        library = phase == 0 ? size.CostLibrary() : size.InstallLibrary();
                    } else {
                        floor = phase == 0 ? size.CostFloor() : size.InstallFloor();
                    }
                }
                (phase == 0 ? result.cost : result.install)[k].Add(library, floor);
            }
            std::printf(".");
            std::fflush(stdout);
        }
        result.peakMb[phase] = PeakWorkingSetMb();
    }
    for (int round = 0; round < std::max(rounds, 5); ++round) {
        for (int turn = 0; turn < 2; ++turn) {
            int k = ordered(round, turn);
            result.parse[k].push_back(sizes[k]->Parse());
        }
    }
    result.peakMb[2] = PeakWorkingSetMb();
    for (int round = 0; round < std::max(rounds, 5); ++round) {
        for (int turn = 0; turn < 2; ++turn) {
            int k = ordered(round, turn);
            result.capture[k].push_back(sizes[k]->Capture());
        }
    }
    for (int k = 0; k < 2; ++k) {
        result.split[k] = sizes[k]->SplitInstall();
        result.calls[k] = sizes[k]->MeasureCalls();
    }
    std::printf("\n");
    return !n.Failed() && !doubled.Failed();
}

// The fastest run at 2N over the fastest at N.
double Growth(const std::vector<double>& n, const std::vector<double>& doubled)
{
    return Fastest(doubled) / Fastest(n);
}

void PrintRow(const char* phase, int rows, const Series& series, const Series* doubled, double peakMb)
{
    std::printf("| %-7s | %6d | %10.1f | %8.1f | %5.2f | %7.1f |", phase, rows, Fastest(series.library),
                Fastest(series.floor), Fastest(series.library) / Fastest(series.floor),
                Fastest(series.library) * 1000.0 / rows);
    if (doubled) {
        std::printf(" %5.2f | %5.2f |", Growth(series.library, doubled->library), Growth(series.floor, doubled->floor));
    } else {
        std::printf(" %5s | %5s |", "", "");
    }
    std::printf(" %7.0f |\n", peakMb);
}

const char* Verdict(bool met)
{
    return met ? "met" : "MISSED";
}

void Report(const std::vector<PairResult>& pairs, int rounds)
{
    std::printf("\nThe fastest of the rounds (%d, and more for sizes below 10,000): other work on the\n"
                "machine only ever adds time. ratio: library over floor. 2N/N: time at 2N over time at N.\n"
                "Peak WS: the process's peak working set by the end of the phase, with both sizes of the\n"
                "pair loaded.\n\n",
                rounds);
    std::printf("| phase   |      N | library ms | floor ms | ratio |  us/row | 2N/N library | 2N/N floor | "
                "peak WS MB |\n");
    std::printf("|---------|-------:|-----------:|---------:|------:|--------:|------:|------:|--------:|\n");
    for (const PairResult& pair : pairs) {
        const char* names[2] = {"cost", "install"};
        const Series* series[2] = {pair.cost, pair.install};
        for (int phase = 0; phase < 2; ++phase) {
            PrintRow(names[phase], pair.rows, series[phase][0], &series[phase][1], pair.peakMb[phase]);
            PrintRow(names[phase], 2 * pair.rows, series[phase][1], nullptr, pair.peakMb[phase]);
        }
        for (int k = 0; k < 2; ++k) {
            int rows = pair.rows * (k + 1);
            double ms = Fastest(pair.parse[k]);
            std::printf("| parse   | %6d | %10.2f | %8s | %5s | %7.2f |", rows, ms, "-", "-", ms * 1000.0 / rows);
            if (k == 0) {
                std::printf(" %5.2f | %5s |", Growth(pair.parse[0], pair.parse[1]), "-");
            } else {
                std::printf(" %5s | %5s |", "", "");
            }
            std::printf(" %7.0f |\n", pair.peakMb[2]);
        }
    }

    std::printf("\nThe install action's first run, on objects whose security was never written, against\n"
                "the timed rounds, which write it again:\n\n");
    std::printf("|      N | first run ms | us/row | rounds' us/row |\n");
    std::printf("|-------:|-------------:|-------:|---------------:|\n");
    for (const PairResult& pair : pairs) {
        for (int k = 0; k < 2; ++k) {
            int rows = pair.rows * (k + 1);
            std::printf("| %6d | %12.1f | %6.1f | %14.1f |\n", rows, pair.firstInstall[k],
                        pair.firstInstall[k] * 1000.0 / rows, Fastest(pair.install[k].library) * 1000.0 / rows);
        }
    }

    std::printf("\nWhat capturing the access lists for rollback adds to the cost action: the capture alone\n"
                "over the objects the text names, all in place, against the whole action (fastest of each):\n\n");
    std::printf("|      N | capture ms | us/object | cost action ms | share |\n");
    std::printf("|-------:|-----------:|----------:|---------------:|------:|\n");
    for (const PairResult& pair : pairs) {
        for (int k = 0; k < 2; ++k) {
            int rows = pair.rows * (k + 1);
            double ms = Fastest(pair.capture[k]);
            double cost = Fastest(pair.cost[k].library);
            std::printf("| %6d | %10.1f | %9.1f | %14.1f | %4.1f%% |\n", rows, ms, ms * 1000.0 / rows, cost,
                        100.0 * ms / cost);
        }
    }

    std::printf("\nOne more run of the install action, split: the time inside the security calls and the log\n"
                "records, which the floor makes too, and the library's own (parsing, accounts, strings,\n"
                "formatting):\n\n");
    std::printf("|      N |   total ms | security calls ms | log records ms | own ms | own us/row | own share |\n");
    std::printf("|-------:|-----------:|------------------:|---------------:|-------:|-----------:|----------:|\n");
    for (const PairResult& pair : pairs) {
        for (int k = 0; k < 2; ++k) {
            const InstallSplit& split = pair.split[k];
            int rows = pair.rows * (k + 1);
            std::printf("| %6d | %10.1f | %17.1f | %14.1f | %6.1f | %10.2f | %8.1f%% |\n", rows, split.total,
                        split.security, split.log, split.Own(), split.Own() * 1000.0 / rows,
                        100.0 * split.Own() / split.total);
        }
    }

    std::printf("\nSingle platform calls, microseconds each: the drive type costing asks for every path,\n"
                "one keyed query on the File table, one log record, and the three named-security calls\n"
                "for a file and for a key.\n\n");
    std::printf("|      N | GetDriveTypeW | keyed query | log record | file DACL | key DACL |\n");
    std::printf("|-------:|--------------:|------------:|-----------:|----------:|---------:|\n");
    for (const PairResult& pair : pairs) {
        for (int k = 0; k < 2; ++k) {
            const CallCosts& calls = pair.calls[k];
            std::printf("| %6d | %13.1f | %11.1f | %10.1f | %9.1f | %8.1f |\n", pair.rows * (k + 1), calls.driveType,
                        calls.keyedQuery, calls.logRecord, calls.fileDacl, calls.keyDacl);
        }
    }

    std::printf("\nWithin each round, library over floor and 2N over N (median, lowest and highest):\n");
    auto spread = [](const std::vector<double>& ratios) {
        char text[48];
        std::snprintf(text, sizeof text, "%.2f (%.2f to %.2f)", Median(ratios),
                      *std::min_element(ratios.begin(), ratios.end()), *std::max_element(ratios.begin(), ratios.end()));
        return std::string(text);
    };
    auto growths = [](const std::vector<double>& n, const std::vector<double>& doubled) {
        std::vector<double> ratios;
        for (std::size_t i = 0; i < n.size() && i < doubled.size(); ++i) {
            ratios.push_back(doubled[i] / n[i]);
        }
        return ratios;
    };
    for (const PairResult& pair : pairs) {
        std::printf("  N=%d (%d rounds): cost %s, install %s; 2N/N cost %s, install %s\n", pair.rows, pair.rounds,
                    spread(pair.cost[0].ratio).c_str(), spread(pair.install[0].ratio).c_str(),
                    spread(growths(pair.cost[0].library, pair.cost[1].library)).c_str(),
                    spread(growths(pair.install[0].library, pair.install[1].library)).c_str());
        std::printf("  N=%d: cost %s, install %s\n", 2 * pair.rows, spread(pair.cost[1].ratio).c_str(),
                    spread(pair.install[1].ratio).c_str());
    }

    std::printf("\nTargets:\n");
    for (const PairResult& pair : pairs) {
        double costRatio = Fastest(pair.cost[0].library) / Fastest(pair.cost[0].floor);
        double installRatio = Fastest(pair.install[0].library) / Fastest(pair.install[0].floor);
        double share = 100.0 * Fastest(pair.parse[0]) / Fastest(pair.install[0].library);
        std::printf("  N=%d: library / floor: cost %.2f (<= 1.10 %s), install %.2f (<= 1.10 %s); parse %.2f%% of "
                    "the install action (< 2%% %s)\n",
                    pair.rows, costRatio, Verdict(costRatio <= 1.10), installRatio, Verdict(installRatio <= 1.10),
                    share, Verdict(share < 2.0));
        const struct {
            const char* name;
            const Series& n;
            const Series& doubled;
        } phases[] = {{"cost", pair.cost[0], pair.cost[1]}, {"install", pair.install[0], pair.install[1]}};
        std::printf("        2N/N:");
        for (const auto& phase : phases) {
            double growth = Growth(phase.n.library, phase.doubled.library);
            std::printf(" %s %.2f (<= 2.2 %s; the floor's %.2f),", phase.name, growth, Verdict(growth <= 2.2),
                        Growth(phase.n.floor, phase.doubled.floor));
        }
        double parseGrowth = Growth(pair.parse[0], pair.parse[1]);
        std::printf(" parse %.2f (<= 2.2 %s)\n", parseGrowth, Verdict(parseGrowth <= 2.2));
    }
}

// The helper's whole round, fastest and median of the rounds for each step.
void ReportHelperRounds(const std::vector<HelperRound>& rounds)
{
    std::printf("\nThe 64-bit helper's round as the 32-bit library makes it (%zu rounds): written out of the\n"
                "resources, started and bound, one registry item, released until the helper has ended, and\n"
                "its file and folder deleted (a failed deletion waits 500 ms before it tries again).\n\n",
                rounds.size());
    const struct {
        const char* name;
        double HelperRound::*step;
    } steps[] = {{"extract", &HelperRound::extract},
                 {"start and bind", &HelperRound::start},
                 {"one item", &HelperRound::item},
                 {"release and exit", &HelperRound::release},
                 {"delete", &HelperRound::remove}};
    std::printf("| step             | fastest ms | median ms |\n|------------------|-----------:|----------:|\n");
    std::vector<double> totals;
    for (const HelperRound& round : rounds) {
        totals.push_back(round.Total());
    }
    for (const auto& step : steps) {
        std::vector<double> values;
        for (const HelperRound& round : rounds) {
            values.push_back(round.*step.step);
        }
        std::printf("| %-16s | %10.1f | %9.1f |\n", step.name, Fastest(values), Median(values));
    }
    std::printf("| %-16s | %10.1f | %9.1f |\n", "whole round", Fastest(totals), Median(totals));
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<int> sizes = {1000, 10000};
    int rounds = 5;
    int helperRounds = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string option = argv[i];
        if (option == "--rounds") {
            rounds = std::max(1, std::atoi(argv[i + 1]));
        } else if (option == "--helper-rounds") {
            helperRounds = std::max(0, std::atoi(argv[i + 1]));
        } else if (option == "--sizes") {
            sizes.clear();
            for (const char* p = argv[i + 1]; *p;) {
                char* end = nullptr;
                long value = std::strtol(p, &end, 10);
                if (end == p || value <= 0) {
                    break;
                }
                sizes.push_back(static_cast<int>(value));
                p = *end == ',' ? end + 1 : end;
            }
        } else {
            std::printf("usage: qx_bench [--sizes 1000,10000] [--rounds 5] [--helper-rounds 5]\n");
            return 2;
        }
    }

    qx::unique_hmodule library(::LoadLibraryW((ModuleFolder() + L"QXLockPermissions.dll").c_str()));
    if (!library) {
        std::printf("QXLockPermissions.dll not found beside the program\n");
        return 1;
    }
    auto costAction = reinterpret_cast<Action>(
        reinterpret_cast<void*>(::GetProcAddress(library.get(), "QXLockPermissionsCostAction")));
    auto installAction = reinterpret_cast<Action>(
        reinterpret_cast<void*>(::GetProcAddress(library.get(), "QXLockPermissionsInstallAction")));
    if (!costAction || !installAction) {
        std::printf("QXLockPermissions.dll exports no actions\n");
        return 1;
    }
    ::MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    ::MsiSetExternalUIW(&CountLogLine, INSTALLLOGMODE_INFO, nullptr);

    WarmUpSecurityCalls();
    std::vector<PairResult> pairs;
    for (int rows : sizes) {
        PairResult pair;
        // Short runs catch the machine's quiet moments less often than they are
        // disturbed: sizes below 10,000 rows get more rounds, up to four times as many.
        int pairRounds = rounds * std::min(4, std::max(1, 10000 / rows));
        if (!MeasurePair(rows, pairRounds, costAction, installAction, pair)) {
            return 1;
        }
        pairs.push_back(pair);
    }
    if (!pairs.empty()) {
        Report(pairs, rounds);
    }

    std::vector<HelperRound> helper;
    for (int round = 0; round < helperRounds; ++round) {
        helper.push_back(MeasureHelperRound(::GetModuleHandleW(nullptr)));
        if (!helper.back().ok) {
            std::printf("the helper round failed\n");
            return 1;
        }
    }
    if (!helper.empty()) {
        ReportHelperRounds(helper);
    }
    return 0;
}
