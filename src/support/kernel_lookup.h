// Kernel functions that the support library looks up by name at the moment of the
// call: a missing one makes that call fail quietly. Every such look-up goes through
// one replaceable function, so that tests can hand in recording stand-ins (for
// example the WOW64 functions, which a 64-bit process otherwise never reaches).
#pragma once

#include <windows.h>

namespace qx {

using kernel_lookup_fn = FARPROC (*)(const char* name);

// The function of the loaded kernel32 module with this name, or null.
FARPROC kernel_proc(const char* name);

// The same as a pointer of the function's own type. FARPROC stands for any
// function; the cast goes through void* because no function type is compatible
// with it, which the compiler would otherwise point out at every look-up.
template <class Function> Function kernel_function(const char* name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void*>(kernel_proc(name)));
}

// Routes the look-ups through lookup (null: back to kernel32); returns the previous one.
kernel_lookup_fn set_kernel_lookup(kernel_lookup_fn lookup);

} // namespace qx
