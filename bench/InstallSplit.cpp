#include "InstallSplit.h"

#include "entry/LockPermissionsManager.h"

namespace qxbench {

namespace {

double g_security = 0;
double g_log = 0;

double Now()
{
    LARGE_INTEGER frequency, counter;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// Adds the time of one call to an accumulator, whatever the call returns.
template <class Call> auto Clocked(double& total, Call call)
{
    double start = Now();
    auto result = call();
    total += Now() - start;
    return result;
}

DWORD WINAPI TimedGetNamedSecurityInfoW(LPCWSTR name, SE_OBJECT_TYPE type, SECURITY_INFORMATION information,
                                        PSID* owner, PSID* group, PACL* dacl, PACL* sacl,
                                        PSECURITY_DESCRIPTOR* descriptor)
{
    return Clocked(g_security, [&] {
        return ::GetNamedSecurityInfoW(name, type, information, owner, group, dacl, sacl, descriptor);
    });
}

DWORD WINAPI TimedSetEntriesInAclW(ULONG count, PEXPLICIT_ACCESS_W entries, PACL oldAcl, PACL* newAcl)
{
    return Clocked(g_security, [&] { return ::SetEntriesInAclW(count, entries, oldAcl, newAcl); });
}

DWORD WINAPI TimedSetNamedSecurityInfoW(LPWSTR name, SE_OBJECT_TYPE type, SECURITY_INFORMATION information, PSID owner,
                                        PSID group, PACL dacl, PACL sacl)
{
    return Clocked(g_security,
                   [&] { return ::SetNamedSecurityInfoW(name, type, information, owner, group, dacl, sacl); });
}

BOOL WINAPI TimedCreateWellKnownSid(WELL_KNOWN_SID_TYPE type, PSID domain, PSID sid, DWORD* size)
{
    return Clocked(g_security, [&] { return ::CreateWellKnownSid(type, domain, sid, size); });
}

class TimedManager : public CQxLockPermissionsManager {
public:
    explicit TimedManager(MSIHANDLE session) : CQxLockPermissionsManager(session)
    {
        m_pfnGetNamedSecurityInfoW = &TimedGetNamedSecurityInfoW;
        m_pfnSetEntriesInAclW = &TimedSetEntriesInAclW;
        m_pfnSetNamedSecurityInfoW = &TimedSetNamedSecurityInfoW;
        m_pfnCreateWellKnownSid = &TimedCreateWellKnownSid;
    }

    void Log(const _stringx<>& message) override
    {
        double start = Now();
        CQxLockPermissionsManager::Log(message);
        g_log += Now() - start;
    }
};

} // namespace

InstallSplit SplitInstall(MSIHANDLE session)
{
    g_security = 0;
    g_log = 0;
    InstallSplit split;
    double start = Now();
    {
        TimedManager manager(session);
        split.result = manager.RunInstall();
    }
    split.total = Now() - start;
    split.security = g_security;
    split.log = g_log;
    return split;
}

} // namespace qxbench
