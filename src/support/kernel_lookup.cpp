#include "support/kernel_lookup.h"

namespace qx {

namespace {

FARPROC from_kernel32(const char* name)
{
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    return kernel ? ::GetProcAddress(kernel, name) : nullptr;
}

kernel_lookup_fn g_lookup = from_kernel32;

} // namespace

FARPROC kernel_proc(const char* name)
{
    return g_lookup(name);
}

kernel_lookup_fn set_kernel_lookup(kernel_lookup_fn lookup)
{
    kernel_lookup_fn previous = g_lookup;
    g_lookup = lookup ? lookup : from_kernel32;
    return previous;
}

} // namespace qx
