// Times the two custom actions and the custom action data reader against the
// platform calls they cannot avoid, for N and 2N lock rows, in one process.
//
//   qx_bench [--sizes 1000,10000] [--rounds 5] [--helper-rounds 5]
//            [--phases cost,install,mix]
//
// --sizes 0 leaves the sizes out: the helper round alone.
//
// Each size has its own package, costed session and objects, with one lock row
// per object; the mix has three rows per object. The phases run one after the
// other:
//   cost     the exported cost action on the costed session, and both cost floors;
//   install  the exported install action on the files, folders and keys that
//            costing named, and both install floors on the same objects;
//   mix      the install action and its floors with three rows per object;
// and, with install, the data reader and the capture for rollback alone.
// Within a phase every round runs both sizes of a pair, library and floors each,
// turning the order from round to round. On a machine shared with other work,
// speed changes by several times within seconds and other work only ever adds
// time: the tables give the fastest run of each, and the ratios within each round
// (median, lowest, highest) show how far the machine moved.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Floors.h"
#include "HelperRound.h"
#include "Report.h"
#include "Workload.h"
#include "support/unique_any.h"

using namespace qxbench;

namespace {

// The process's highest working set so far, in MB: process-wide, never lower than
// before, so read at the end of a phase it is the high-water mark up to there.
double PeakWorkingSetMb()
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters);
    return static_cast<double>(counters.PeakWorkingSetSize) / (1024.0 * 1024.0);
}

std::wstring ModuleFolder()
{
    wchar_t path[MAX_PATH] = {};
    DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L"\\/") + 1);
}

struct Phases {
    bool cost = true, install = true, mix = true;
};

// Rounds of one phase over both sizes: library and floors each, the order of
// sizes and of runners turning from round to round.
template <class Run> void TimeRounds(int rounds, Workload* const sizes[2], Series series[2], Run run)
{
    const Runner runners[3] = {Runner::Library, Runner::RowFloor, Runner::Floor};
    for (int round = 0; round < rounds; ++round) {
        for (int turn = 0; turn < 2; ++turn) {
            const int k = (round + turn) % 2;
            for (int which = 0; which < 3; ++which) {
                const Runner runner = runners[(round + which) % 3];
                const double ms = run(*sizes[k], runner);
                (runner == Runner::Library    ? series[k].library
                 : runner == Runner::RowFloor ? series[k].rowFloor
                                              : series[k].floor)
                    .push_back(ms);
            }
        }
        std::printf(".");
        std::fflush(stdout);
    }
}

bool MeasurePlain(int rounds, const Phases& phases, Action costAction, Action installAction, PairResult& result)
{
    Workload n(result.rows, 1, costAction, installAction);
    Workload doubled(2 * result.rows, 1, costAction, installAction);
    Workload* const sizes[2] = {&n, &doubled};
    if (!n.Prepare(phases.cost) || !doubled.Prepare(phases.cost)) {
        return false;
    }
    if (phases.cost) {
        TimeRounds(rounds, sizes, result.cost, [](Workload& size, Runner runner) { return size.Cost(runner); });
    }
    if (phases.install) {
        TimeRounds(rounds, sizes, result.install, [](Workload& size, Runner runner) { return size.Install(runner); });
    }
    result.peakMb = PeakWorkingSetMb();
    for (int k = 0; k < 2; ++k) {
        Workload& size = *sizes[k];
        result.objects[k] = size.Objects();
        if (phases.cost) {
            result.costSplit[k] = size.SplitCost();
            result.calls[k] = size.MeasureCalls();
        }
        if (phases.install) {
            result.installSplit[k] = size.SplitInstall();
            for (int round = 0; round < std::max(rounds, 5); ++round) {
                result.parse[k].push_back(size.Parse());
            }
            for (int round = 0; round < rounds; ++round) {
                result.capture[k].push_back(size.Capture());
            }
        }
    }
    return !n.Failed() && !doubled.Failed();
}

bool MeasureMix(int rounds, Action costAction, Action installAction, PairResult& result)
{
    Workload n(result.rows, 3, costAction, installAction);
    Workload doubled(2 * result.rows, 3, costAction, installAction);
    Workload* const sizes[2] = {&n, &doubled};
    if (!n.Prepare(false) || !doubled.Prepare(false)) {
        return false;
    }
    TimeRounds(rounds, sizes, result.mix, [](Workload& size, Runner runner) { return size.Install(runner); });
    result.mixPeakMb = PeakWorkingSetMb();
    for (int k = 0; k < 2; ++k) {
        result.mixObjects[k] = sizes[k]->Objects();
        result.mixSplit[k] = sizes[k]->SplitInstall();
    }
    return !n.Failed() && !doubled.Failed();
}

bool MeasurePair(int rows, int rounds, const Phases& phases, Action costAction, Action installAction,
                 PairResult& result)
{
    result.rows = rows;
    result.rounds = rounds;
    result.measuredCost = phases.cost;
    result.measuredInstall = phases.install;
    result.measuredMix = phases.mix;
    // One pair of packages at a time, so that the peak working set of the first
    // is not raised by the second's.
    if ((phases.cost || phases.install) && !MeasurePlain(rounds, phases, costAction, installAction, result)) {
        return false;
    }
    if (phases.mix && !MeasureMix(rounds, costAction, installAction, result)) {
        return false;
    }
    std::printf("\n");
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<int> sizes = {1000, 10000};
    int rounds = 5;
    int helperRounds = 5;
    Phases phases;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string option = argv[i];
        if (option == "--rounds") {
            rounds = std::max(1, std::atoi(argv[i + 1]));
        } else if (option == "--helper-rounds") {
            helperRounds = std::max(0, std::atoi(argv[i + 1]));
        } else if (option == "--phases") {
            const std::string names = "," + std::string(argv[i + 1]) + ",";
            phases.cost = names.find(",cost,") != std::string::npos;
            phases.install = names.find(",install,") != std::string::npos;
            phases.mix = names.find(",mix,") != std::string::npos;
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
            std::printf("usage: qx_bench [--sizes 1000,10000] [--rounds 5] [--helper-rounds 5] "
                        "[--phases cost,install,mix]\n");
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
        if (!MeasurePair(rows, pairRounds, phases, costAction, installAction, pair)) {
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
