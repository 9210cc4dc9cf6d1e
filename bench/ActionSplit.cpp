#include "ActionSplit.h"

#include "entry/LockPermissionsManager.h"

namespace qxbench {

namespace {

// One split at a time: the entry points are plain functions.
ActionSplit* g_split = nullptr;

double Now()
{
    LARGE_INTEGER frequency, counter;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// Adds the time of one call to the security time, whatever the call returns, and
// one to the count given.
template <class Call> auto Clocked(long* count, Call call)
{
    double start = Now();
    auto result = call();
    g_split->security += Now() - start;
    if (count) {
        ++*count;
    }
    return result;
}

DWORD WINAPI TimedGetNamedSecurityInfoW(LPCWSTR name, SE_OBJECT_TYPE type, SECURITY_INFORMATION information,
                                        PSID* owner, PSID* group, PACL* dacl, PACL* sacl,
                                        PSECURITY_DESCRIPTOR* descriptor)
{
    return Clocked(&g_split->reads, [&] {
        return ::GetNamedSecurityInfoW(name, type, information, owner, group, dacl, sacl, descriptor);
    });
}

DWORD WINAPI TimedGetSecurityInfo(HANDLE object, SE_OBJECT_TYPE type, SECURITY_INFORMATION information, PSID* owner,
                                  PSID* group, PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor)
{
    return Clocked(&g_split->reads,
                   [&] { return ::GetSecurityInfo(object, type, information, owner, group, dacl, sacl, descriptor); });
}

DWORD WINAPI TimedSetEntriesInAclW(ULONG count, PEXPLICIT_ACCESS_W entries, PACL oldAcl, PACL* newAcl)
{
    return Clocked(nullptr, [&] { return ::SetEntriesInAclW(count, entries, oldAcl, newAcl); });
}

DWORD WINAPI TimedSetNamedSecurityInfoW(LPWSTR name, SE_OBJECT_TYPE type, SECURITY_INFORMATION information, PSID owner,
                                        PSID group, PACL dacl, PACL sacl)
{
    return Clocked(&g_split->writes,
                   [&] { return ::SetNamedSecurityInfoW(name, type, information, owner, group, dacl, sacl); });
}

DWORD WINAPI TimedSetSecurityInfo(HANDLE object, SE_OBJECT_TYPE type, SECURITY_INFORMATION information, PSID owner,
                                  PSID group, PACL dacl, PACL sacl)
{
    return Clocked(&g_split->writes,
                   [&] { return ::SetSecurityInfo(object, type, information, owner, group, dacl, sacl); });
}

BOOL WINAPI TimedCreateWellKnownSid(WELL_KNOWN_SID_TYPE type, PSID domain, PSID sid, DWORD* size)
{
    return Clocked(nullptr, [&] { return ::CreateWellKnownSid(type, domain, sid, size); });
}

class TimedManager : public CQxLockPermissionsManager {
public:
    explicit TimedManager(MSIHANDLE session) : CQxLockPermissionsManager(session)
    {
        m_pfnGetNamedSecurityInfoW = &TimedGetNamedSecurityInfoW;
        m_pfnGetSecurityInfo = &TimedGetSecurityInfo;
        m_pfnSetEntriesInAclW = &TimedSetEntriesInAclW;
        m_pfnSetNamedSecurityInfoW = &TimedSetNamedSecurityInfoW;
        m_pfnSetSecurityInfo = &TimedSetSecurityInfo;
        m_pfnCreateWellKnownSid = &TimedCreateWellKnownSid;
    }

    void Log(const _stringx<>& message) override
    {
        double start = Now();
        CQxLockPermissionsManager::Log(message);
        g_split->log += Now() - start;
    }
};

template <class Run> ActionSplit Split(MSIHANDLE session, Run run)
{
    ActionSplit split;
    g_split = &split;
    double start = Now();
    {
        TimedManager manager(session);
        split.result = run(manager);
    }
    split.total = Now() - start;
    g_split = nullptr;
    return split;
}

} // namespace

ActionSplit SplitCost(MSIHANDLE session)
{
    return Split(session, [](TimedManager& manager) { return manager.RunCost(); });
}

ActionSplit SplitInstall(MSIHANDLE session)
{
    return Split(session, [](TimedManager& manager) { return manager.RunInstall(); });
}

} // namespace qxbench
