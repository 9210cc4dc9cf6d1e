#include <gtest/gtest.h>

#include "cost/ComponentFilter.h"

// Kept: being installed locally (action 3), or installed locally (3) with an action other
// than none (-1), advertisement, which also stands for removal (1), or absence (2).
TEST(ComponentStatesKeepRow, KeepsLocalInstallsAndPendingActionsOfInstalledComponents)
{
    const struct {
        int installed, action;
        bool kept;
    } cases[] = {{-1, 3, true}, {2, 3, true},  {3, 3, true},  {4, 3, true}, {3, -1, false}, {3, 1, false},
                 {3, 2, false}, {3, 4, true},  {3, 5, true},  {3, 0, true}, {3, -2, true},  {-1, -1, false},
                 {2, 4, false}, {2, 5, false}, {4, 4, false}, {1, 2, false}};
    for (const auto& c : cases) {
        EXPECT_EQ(c.kept,
                  ComponentStatesKeepRow(static_cast<INSTALLSTATE>(c.installed), static_cast<INSTALLSTATE>(c.action)))
            << "installed " << c.installed << ", action " << c.action;
    }
}
