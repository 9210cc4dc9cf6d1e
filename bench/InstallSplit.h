// The install action's time split into the platform calls that the floor makes as
// well and the library's own work, which the machine's other load hardly touches:
// the manager that the exported action builds, run here with its security entry
// points and its log timed.
#pragma once

#include <windows.h>
#include <msi.h>

namespace qxbench {

struct InstallSplit {
    double total = 0;    // ms, the whole run
    double security = 0; // ms inside GetNamedSecurityInfoW, SetEntriesInAclW, SetNamedSecurityInfoW, CreateWellKnownSid
    double log = 0;      // ms inside the log records (installer record and message calls)
    UINT result = 0;
    double Own() const { return total - security - log; }
};

// Runs the install action's driver once on the session's CustomActionData.
InstallSplit SplitInstall(MSIHANDLE session);

} // namespace qxbench
