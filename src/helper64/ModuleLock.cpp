#include "helper64/ModuleLock.h"

namespace qx {

namespace {
// Interlocked although the proxies live on one thread: the count is process-wide.
volatile LONG g_moduleLocks = 0;
} // namespace

void module_lock() noexcept
{
    ::InterlockedIncrement(&g_moduleLocks);
}

void module_unlock() noexcept
{
    ::InterlockedDecrement(&g_moduleLocks);
}

LONG module_lock_count() noexcept
{
    return ::InterlockedCompareExchange(&g_moduleLocks, 0, 0);
}

} // namespace qx
