// One full round of the 64-bit helper as the 32-bit library makes it: written out
// of the resources, started and bound, one item, released (the helper ends) and
// its file and folder deleted.
#pragma once

#include <windows.h>

namespace qxbench {

struct HelperRound {
    bool ok = false;
    double extract = 0, start = 0, item = 0, release = 0, remove = 0;
    double Total() const { return extract + start + item + release + remove; }
};

// From module, which carries the helper as QXCUSTOM/QXBEWEXE; the item locks a
// key of the 64-bit view made for it.
HelperRound MeasureHelperRound(HMODULE module);

} // namespace qxbench
