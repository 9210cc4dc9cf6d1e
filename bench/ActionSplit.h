// An action's time split into the platform calls that the floors make as well and
// the rest, which the machine's other load hardly touches: the manager that the
// exported action builds, run here with its security entry points and its log
// timed, and its access-list reads and writes counted.
#pragma once

#include <windows.h>
#include <msi.h>

namespace qxbench {

struct ActionSplit {
    double total = 0;    // ms, the whole run
    double security = 0; // ms inside the security entry points (list reads and writes, merges, SIDs)
    double log = 0;      // ms inside the log records (installer record and message calls)
    long reads = 0;      // GetNamedSecurityInfoW and GetSecurityInfo calls
    long writes = 0;     // SetNamedSecurityInfoW and SetSecurityInfo calls
    UINT result = 0;
    double Rest() const { return total - security - log; }
};

// Runs the cost action's driver once on the costed session.
ActionSplit SplitCost(MSIHANDLE session);
// Runs the install action's driver once on the session's CustomActionData.
ActionSplit SplitInstall(MSIHANDLE session);

} // namespace qxbench
