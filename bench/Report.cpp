#include "Report.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace qxbench {

namespace {

// The process's peak working set at 10,000 rows before the install action wrote
// one list per object: main at dfe173e, `scripts/bench --sizes 10000 --rounds 1
// --helper-rounds 0`, read by the end of the install phase as PairResult::peakMb is.
constexpr double kReferencePeakMb = 192;
constexpr int kReferenceRows = 10000;

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

// The fastest run at 2N over the fastest at N.
double Growth(const std::vector<double>& n, const std::vector<double>& doubled)
{
    return Fastest(doubled) / Fastest(n);
}

const char* Verdict(bool met)
{
    return met ? "met" : "MISSED";
}

void PrintRow(const char* phase, int rows, const Series& series, const Series* doubled, double peakMb)
{
    const double library = Fastest(series.library), rowFloor = Fastest(series.rowFloor), floor = Fastest(series.floor);
    std::printf("| %-10s | %6d | %9.1f | %9.1f | %9.1f | %5.2f | %5.2f | %6.1f |", phase, rows, library, rowFloor,
                floor, library / rowFloor, library / floor, library * 1000.0 / rows);
    if (doubled) {
        std::printf(" %5.2f | %5.2f | %5.2f |", Growth(series.library, doubled->library),
                    Growth(series.rowFloor, doubled->rowFloor), Growth(series.floor, doubled->floor));
    } else {
        std::printf(" %5s | %5s | %5s |", "", "", "");
    }
    std::printf(" %5.0f |\n", peakMb);
}

void PrintSplit(const char* action, int rows, int rowsPerObject, int objects, const ActionSplit& split)
{
    std::printf("| %-7s | %6d | %d | %7d | %6ld | %6ld | %9.1f | %11.1f | %6.1f | %9.1f |\n", action, rows,
                rowsPerObject, objects, split.reads, split.writes, split.total, split.security, split.log,
                split.Rest());
}

std::string Spread(const std::vector<double>& ratios)
{
    if (ratios.empty()) {
        return "-";
    }
    char text[48];
    std::snprintf(text, sizeof text, "%.2f (%.2f to %.2f)", Median(ratios),
                  *std::min_element(ratios.begin(), ratios.end()), *std::max_element(ratios.begin(), ratios.end()));
    return text;
}

std::vector<double> Ratios(const std::vector<double>& over, const std::vector<double>& under)
{
    std::vector<double> ratios;
    for (std::size_t i = 0; i < over.size() && i < under.size(); ++i) {
        ratios.push_back(over[i] / under[i]);
    }
    return ratios;
}

void PrintTargets(const PairResult& pair)
{
    std::printf("\nTargets at N=%d:\n", pair.rows);
    if (pair.measuredCost) {
        const Series& cost = pair.cost[0];
        const double rowRatio = Fastest(cost.library) / Fastest(cost.rowFloor);
        const double floorRatio = Fastest(cost.library) / Fastest(cost.floor);
        const double growth = Growth(cost.library, pair.cost[1].library);
        std::printf("  cost action: %.2f of the per-row floor (<= 0.50 %s), %.2f of the unavoidable floor (<= 1.25 "
                    "%s), 2N/N %.2f (<= 2.10 %s)\n",
                    rowRatio, Verdict(rowRatio <= 0.5), floorRatio, Verdict(floorRatio <= 1.25), growth,
                    Verdict(growth <= 2.10));
    }
    if (pair.measuredInstall) {
        const double growth = Growth(pair.install[0].library, pair.install[1].library);
        const double share = 100.0 * Fastest(pair.parse[0]) / Fastest(pair.install[0].library);
        std::printf("  install action: 2N/N %.2f (<= 2.10 %s); parse %.2f%% of it (< 2%% %s)\n", growth,
                    Verdict(growth <= 2.10), share, Verdict(share < 2.0));
        const double peak = pair.peakMb / kReferencePeakMb;
        if (pair.rows == kReferenceRows) {
            std::printf("  peak working set: %.0f MB, %.2f of the reference %.0f MB (<= 1.20 %s)\n", pair.peakMb, peak,
                        kReferencePeakMb, Verdict(peak <= 1.2));
        }
    }
    if (pair.measuredMix) {
        const double ratio = Fastest(pair.mix[0].library) / Fastest(pair.mix[0].rowFloor);
        const ActionSplit& split = pair.mixSplit[0];
        std::printf("  install action, three rows per object: %.2f of the per-row floor (<= 0.50 %s); list reads "
                    "%.2f and writes %.2f per object (1 %s)\n",
                    ratio, Verdict(ratio <= 0.5), static_cast<double>(split.reads) / pair.mixObjects[0],
                    static_cast<double>(split.writes) / pair.mixObjects[0],
                    Verdict(split.reads == pair.mixObjects[0] && split.writes == pair.mixObjects[0]));
    }
}

} // namespace

void Report(const std::vector<PairResult>& pairs, int rounds)
{
    std::printf("\nThe fastest of the rounds (%d, and more for sizes below 10,000): other work on the machine only\n"
                "ever adds time. Per-row floor: the calls of one row after another (a keyed query per row, a\n"
                "read and a write per row); unavoidable floor: each table read once, one read and one write per\n"
                "object. x3: three rows per object. 2N/N: time at 2N over time at N. Peak WS: the process's\n"
                "peak working set by the end of the phase, both sizes loaded.\n\n",
                rounds);
    std::printf(
        "| phase      |      N | library ms | per-row floor ms | unavoidable floor ms | / per-row | / unavoidable "
        "| us/row | 2N/N library | 2N/N per-row | 2N/N unavoidable | peak WS MB |\n");
    std::printf("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    for (const PairResult& pair : pairs) {
        const struct {
            const char* name;
            bool measured;
            const Series* series;
            double peakMb;
        } phases[] = {{"cost", pair.measuredCost, pair.cost, pair.peakMb},
                      {"install", pair.measuredInstall, pair.install, pair.peakMb},
                      {"install x3", pair.measuredMix, pair.mix, pair.mixPeakMb}};
        for (const auto& phase : phases) {
            if (phase.measured) {
                PrintRow(phase.name, pair.rows, phase.series[0], &phase.series[1], phase.peakMb);
                PrintRow(phase.name, 2 * pair.rows, phase.series[1], nullptr, phase.peakMb);
            }
        }
        for (int k = 0; k < 2 && !pair.parse[k].empty(); ++k) {
            const int rows = pair.rows * (k + 1);
            const double ms = Fastest(pair.parse[k]);
            std::printf("| parse      | %6d | %9.2f |           |           |       |       | %6.2f |", rows, ms,
                        ms * 1000.0 / rows);
            std::printf(k == 0 ? " %5.2f |       |       |       |\n" : "       |       |       |       |\n",
                        Growth(pair.parse[0], pair.parse[1]));
        }
    }

    std::printf("\nOne more run of each action through its manager, with the list reads (GetNamedSecurityInfoW,\n"
                "GetSecurityInfo) and writes (SetNamedSecurityInfoW, SetSecurityInfo) counted, and the time inside\n"
                "the security entry points and the log records apart from the rest (installer calls, the capture's\n"
                "file opening and SDDL text, parsing, strings). x: rows per object.\n\n");
    std::printf(
        "| action  |      N | x | objects |  reads | writes |  total ms | security ms | log ms |   rest ms |\n");
    std::printf(
        "|---------|-------:|--:|--------:|-------:|-------:|----------:|------------:|-------:|----------:|\n");
    for (const PairResult& pair : pairs) {
        for (int k = 0; k < 2; ++k) {
            const int rows = pair.rows * (k + 1);
            if (pair.measuredCost) {
                PrintSplit("cost", rows, 1, pair.objects[k], pair.costSplit[k]);
            }
            if (pair.measuredInstall) {
                PrintSplit("install", rows, 1, pair.objects[k], pair.installSplit[k]);
            }
            if (pair.measuredMix) {
                PrintSplit("install", rows, 3, pair.mixObjects[k], pair.mixSplit[k]);
            }
        }
    }

    std::printf("\nThe cost action's capture of the access lists for rollback, alone over the objects the text\n"
                "names (all in place), against the whole action (fastest of each):\n\n");
    std::printf("|      N | capture ms | us/object | cost action ms | share |\n");
    std::printf("|-------:|-----------:|----------:|---------------:|------:|\n");
    for (const PairResult& pair : pairs) {
        for (int k = 0; k < 2 && !pair.capture[k].empty(); ++k) {
            const int rows = pair.rows * (k + 1);
            const double ms = Fastest(pair.capture[k]);
            const double cost = Fastest(pair.cost[k].library);
            std::printf("| %6d | %10.1f | %9.1f | %14.1f | %4.1f%% |\n", rows, ms, ms * 1000.0 / pair.objects[k], cost,
                        100.0 * ms / cost);
        }
    }

    std::printf("\nSingle platform calls, microseconds each: the drive type, one keyed query on the File table,\n"
                "one log record, and the three named-security calls for a file and for a key.\n\n");
    std::printf("|      N | GetDriveTypeW | keyed query | log record | file DACL | key DACL |\n");
    std::printf("|-------:|--------------:|------------:|-----------:|----------:|---------:|\n");
    for (const PairResult& pair : pairs) {
        for (int k = 0; k < 2 && pair.measuredCost; ++k) {
            const CallCosts& calls = pair.calls[k];
            std::printf("| %6d | %13.1f | %11.1f | %10.1f | %9.1f | %8.1f |\n", pair.rows * (k + 1), calls.driveType,
                        calls.keyedQuery, calls.logRecord, calls.fileDacl, calls.keyDacl);
        }
    }

    std::printf("\nWithin each round, library over the per-row floor, over the unavoidable floor, and 2N over N\n"
                "(median, lowest and highest):\n");
    for (const PairResult& pair : pairs) {
        const struct {
            const char* name;
            bool measured;
            const Series* series;
        } phases[] = {{"cost", pair.measuredCost, pair.cost},
                      {"install", pair.measuredInstall, pair.install},
                      {"install x3", pair.measuredMix, pair.mix}};
        for (const auto& phase : phases) {
            if (phase.measured) {
                const Series& n = phase.series[0];
                std::printf("  N=%d %s: %s, %s; 2N/N %s\n", pair.rows, phase.name,
                            Spread(Ratios(n.library, n.rowFloor)).c_str(), Spread(Ratios(n.library, n.floor)).c_str(),
                            Spread(Ratios(phase.series[1].library, n.library)).c_str());
            }
        }
    }
    if (!pairs.empty()) {
        PrintTargets(pairs.back());
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

} // namespace qxbench
