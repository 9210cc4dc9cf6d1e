#include "cost/ComponentFilter.h"

#include "entry/LockPermissionsManager.h"
#include "msi/Queries.h"
#include "msi/Views.h"

namespace {

constexpr UINT kComponentAttributesField = 4;
constexpr int kMsidbComponentAttributes64bit = 0x100;

} // namespace

bool ComponentStatesKeepRow(INSTALLSTATE installed, INSTALLSTATE action)
{
    if (action == INSTALLSTATE_LOCAL) {
        return true;
    }
    // INSTALLSTATE_ADVERTISED is also the value that stands for removal.
    return installed == INSTALLSTATE_LOCAL && action != INSTALLSTATE_UNKNOWN && action != INSTALLSTATE_ADVERTISED &&
        action != INSTALLSTATE_ABSENT;
}

bool CQxLockPermissionsManager::QueryComponent64Bit(const _stringx<>& component)
{
    CMsiHandle view;
    CMsiHandle record;
    UINT status = OpenExecuteFetch(&view, m_hDatabase, &record, g_strQueryComponent, component.c_str());
    if (status != ERROR_SUCCESS) {
        Log(FormatText(L"Failed to obtain component record for component '%s', error %x", component.c_str(), status));
        return false;
    }
    int attributes = ::MsiRecordGetInteger(record, kComponentAttributesField);
    return (attributes & kMsidbComponentAttributes64bit) != 0;
}

bool CQxLockPermissionsManager::QueryComponentInstalling(const _stringx<>& component, DWORD* status)
{
    Log(FormatText(L"Attempting to determine component state for %s", component.c_str()));
    INSTALLSTATE installed = INSTALLSTATE_UNKNOWN;
    INSTALLSTATE action = INSTALLSTATE_UNKNOWN;
    UINT result = ::MsiGetComponentStateW(m_hInstall, component.c_str(), &installed, &action);
    if (result != ERROR_SUCCESS) {
        // The states are undefined now. Costing stops rather than quietly locking some
        // objects of the package and not others.
        Log(FormatText(L"Failed to obtain state of component '%s', error 0x%08x", component.c_str(), result));
        if (status) {
            *status = result;
        }
        return false;
    }
    Log(FormatText(L"Install state of component is %x, action is %x", installed, action));
    return ComponentStatesKeepRow(installed, action);
}
