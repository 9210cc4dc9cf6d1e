#include <gtest/gtest.h>

#include "cost/ComponentFilter.h"

// The installed state of a fresh test package is never local, so the rows of the
// decision that need an installed component are only reachable here.
TEST(ComponentStatesKeepRow, KeepsLocalInstallsAndPendingActionsOfInstalledComponents)
{
    struct Case {
        int installed;
        int action;
        bool kept;
    };
    const Case cases[] = {
        // Being installed to the local machine, whatever is there now.
        {-1, 3, true},
        {2, 3, true},
        {3, 3, true},
        {4, 3, true},
        // Installed locally: no action, advertisement (also removal) and absence drop the row.
        {3, -1, false},
        {3, 1, false},
        {3, 2, false},
        // Installed locally with any other action pending.
        {3, 4, true},
        {3, 5, true},
        {3, 0, true},
        {3, -2, true},
        // Neither installed nor being installed locally.
        {-1, -1, false},
        {2, 4, false},
        {2, 5, false},
        {4, 4, false},
        {1, 2, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.kept,
                  ComponentStatesKeepRow(static_cast<INSTALLSTATE>(c.installed), static_cast<INSTALLSTATE>(c.action)))
            << "installed " << c.installed << ", action " << c.action;
    }
}
