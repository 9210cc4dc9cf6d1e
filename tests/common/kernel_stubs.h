// Stand-ins, for the lifetime of a scope, for kernel functions that the support
// library looks up by name; the others are found in kernel32 as usual.
#pragma once

#include <windows.h>

#include <cstring>
#include <initializer_list>
#include <vector>

#include "support/kernel_lookup.h"

struct kernel_stub {
    const char* name;
    FARPROC proc; // null: the function is missing
};

template <class Function> kernel_stub stub(const char* name, Function function)
{
    return kernel_stub{name, reinterpret_cast<FARPROC>(reinterpret_cast<void*>(function))};
}

class scoped_kernel_stubs {
public:
    explicit scoped_kernel_stubs(std::initializer_list<kernel_stub> stubs)
    {
        table().assign(stubs);
        qx::set_kernel_lookup([](const char* name) {
            for (const kernel_stub& entry : table()) {
                if (std::strcmp(entry.name, name) == 0) {
                    return entry.proc;
                }
            }
            return ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), name);
        });
    }
    ~scoped_kernel_stubs() { qx::set_kernel_lookup(nullptr); }

private:
    static std::vector<kernel_stub>& table()
    {
        static std::vector<kernel_stub> stubs;
        return stubs;
    }
};
