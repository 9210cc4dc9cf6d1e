#include "cost/ComponentFilter.h"

bool ComponentStatesKeepRow(INSTALLSTATE installed, INSTALLSTATE action)
{
    if (action == INSTALLSTATE_LOCAL) {
        return true;
    }
    // INSTALLSTATE_ADVERTISED is also the value that stands for removal.
    return installed == INSTALLSTATE_LOCAL && action != INSTALLSTATE_UNKNOWN && action != INSTALLSTATE_ADVERTISED &&
           action != INSTALLSTATE_ABSENT;
}
