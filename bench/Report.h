// What one pair of sizes (N and 2N) measured, and the tables and verdicts printed
// from it.
#pragma once

#include <vector>

#include "ActionSplit.h"
#include "Floors.h"
#include "HelperRound.h"

namespace qxbench {

// One phase of one size over the rounds, in ms.
struct Series {
    std::vector<double> library, rowFloor, floor;
};

// [0] N rows, [1] 2N rows.
struct PairResult {
    int rows = 0;
    int rounds = 0;
    bool measuredCost = false, measuredInstall = false, measuredMix = false;
    Series cost[2], install[2], mix[2]; // mix: the install action with three rows per object
    std::vector<double> parse[2], capture[2];
    double peakMb = 0;    // by the end of the install phase, both sizes of one row per object loaded
    double mixPeakMb = 0; // by the end of the mix, both of its sizes loaded
    int objects[2] = {}, mixObjects[2] = {};
    ActionSplit costSplit[2], installSplit[2], mixSplit[2];
    CallCosts calls[2];
};

void Report(const std::vector<PairResult>& pairs, int rounds);
void ReportHelperRounds(const std::vector<HelperRound>& rounds);

} // namespace qxbench
