// Replaces kernel functions that the support library looks up by name with
// stand-ins for the lifetime of a scope.
#pragma once

#include <windows.h>

#include <initializer_list>
#include <vector>

#include "support/kernel_lookup.h"

struct kernel_stub {
    const char* name;
    FARPROC proc; // null: the function is missing
};

template <class Function>
kernel_stub stub(const char* name, Function function)
{
    return kernel_stub{name, reinterpret_cast<FARPROC>(function)};
}

inline kernel_stub missing(const char* name)
{
    return kernel_stub{name, nullptr};
}

// Functions not listed are found in kernel32 as usual.
class scoped_kernel_stubs {
public:
    explicit scoped_kernel_stubs(std::initializer_list<kernel_stub> stubs);
    scoped_kernel_stubs(const scoped_kernel_stubs&) = delete;
    scoped_kernel_stubs& operator=(const scoped_kernel_stubs&) = delete;
    ~scoped_kernel_stubs();

private:
    qx::kernel_lookup_fn m_previous;
};
