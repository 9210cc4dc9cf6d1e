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

// For a scope, this process is a 32-bit one on 64-bit Windows whose file-system
// redirection switches are counted: off() is how many switch-offs are in force.
class scoped_wow64 {
public:
    scoped_wow64()
        : m_stubs{stub("IsWow64Process", &IsWow64), stub("Wow64DisableWow64FsRedirection", &Disable),
                  stub("Wow64RevertWow64FsRedirection", &Revert)}
    {
        depth() = 0;
    }
    static int off() { return depth(); }
    static BOOL WINAPI IsWow64(HANDLE, PBOOL wow64) { return *wow64 = TRUE; }

private:
    static int& depth()
    {
        static int switchedOff = 0;
        return switchedOff;
    }
    static BOOL WINAPI Disable(PVOID* state) { return *state = nullptr, ++depth(), TRUE; }
    static BOOL WINAPI Revert(PVOID) { return --depth(), TRUE; }

    scoped_kernel_stubs m_stubs;
};
