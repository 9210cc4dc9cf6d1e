#include "cost/ComponentFilter.h"

#include <msidefs.h>

#include "msi/MsiHandle.h"
#include "msi/Queries.h"
#include "msi/Views.h"
#include "support/error.h"

namespace {

constexpr UINT kComponentAttributesField = 4;

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

bool QueryComponent64Bit(const InstallerSession& session, const _stringx<>& component)
{
    qx::unique_msihandle view;
    qx::unique_msihandle record;
    UINT status = OpenExecuteFetch(&view, session.hDatabase, &record, g_strQueryComponent, component.c_str());
    if (status != ERROR_SUCCESS) {
        session.log.Log(
            FormatText(L"Failed to obtain component record for component '%s', error %x", component.c_str(), status));
        return false;
    }
    int attributes = ::MsiRecordGetInteger(record.get(), kComponentAttributesField);
    return (attributes & msidbComponentAttributes64bit) != 0;
}

bool QueryComponentInstalling(const InstallerSession& session, const _stringx<>& component)
{
    session.log.Log(FormatText(L"Attempting to determine component state for %s", component.c_str()));
    INSTALLSTATE installed = INSTALLSTATE_UNKNOWN;
    INSTALLSTATE action = INSTALLSTATE_UNKNOWN;
    UINT result = ::MsiGetComponentStateW(session.hInstall, component.c_str(), &installed, &action);
    if (result != ERROR_SUCCESS) {
        // The states are undefined now. Costing stops rather than quietly locking some
        // objects of the package and not others.
        throw qx::error(
            result, FormatText(L"Failed to obtain state of component '%s', error 0x%08x", component.c_str(), result));
    }
    session.log.Log(FormatText(L"Install state of component is %x, action is %x", installed, action));
    return ComponentStatesKeepRow(installed, action);
}
