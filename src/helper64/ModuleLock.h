// The library's COM module lock count. Every helper proxy holds one lock for as
// long as it exists; nothing in the library decides anything by it.
#pragma once

#include <windows.h>

namespace qx {

void module_lock() noexcept;
void module_unlock() noexcept;
// The count itself: the product never reads it; the tests do, to see that every
// proxy gave its lock back.
LONG module_lock_count() noexcept;

} // namespace qx
