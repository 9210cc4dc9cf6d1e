#include "kernel_stubs.h"

#include <cstring>

namespace {

std::vector<kernel_stub> g_stubs;
qx::kernel_lookup_fn g_fallback = nullptr;

FARPROC stubbed_lookup(const char* name)
{
    for (const kernel_stub& entry : g_stubs) {
        if (std::strcmp(entry.name, name) == 0) {
            return entry.proc;
        }
    }
    return g_fallback(name);
}

} // namespace

scoped_kernel_stubs::scoped_kernel_stubs(std::initializer_list<kernel_stub> stubs)
{
    g_stubs.assign(stubs);
    m_previous = qx::set_kernel_lookup(stubbed_lookup);
    g_fallback = m_previous;
}

scoped_kernel_stubs::~scoped_kernel_stubs()
{
    qx::set_kernel_lookup(m_previous);
    g_stubs.clear();
}
