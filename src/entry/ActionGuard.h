// The outermost frame of an exported custom action.
#pragma once

#include <windows.h>
#include <msi.h>

#include <exception>

#include "msi/InstallerLog.h"
#include "support/error.h"
#include "support/stringx.h"

namespace qx {

namespace detail {

template <class MakeMessage> void LogActionFailure(MSIHANDLE hInstall, MakeMessage makeMessage) noexcept
{
    try {
        WriteLogLine(hInstall, makeMessage());
    } catch (...) {
        // No memory for the message: the result still reports the failure.
    }
}

} // namespace detail

// Runs the body of an exported action and lets no exception out: one leaving a
// mingw-built DLL into an installer built by another compiler is undefined
// behaviour. A failure becomes one log line and the fatal-error result 1603.
// The body owns its manager, so the manager is destroyed (database closed,
// helper removed, COM uninitialised) before the failure is logged.
template <class Body>
UINT RunGuardedAction(MSIHANDLE hInstall, Body body, UINT failure = ERROR_INSTALL_FAILURE) noexcept
{
    try {
        return body();
    } catch (const qx::installer_error& error) {
        detail::LogActionFailure(hInstall, [&error] {
            return FormatText(L"Installer call failed, error %x: %s", static_cast<unsigned int>(error.code()),
                              error.message().c_str());
        });
    } catch (const qx::error& error) {
        detail::LogActionFailure(hInstall, [&error] {
            return FormatText(L"Unexpected failure, error %x: %s", static_cast<unsigned int>(error.code()),
                              error.message().c_str());
        });
    } catch (const std::exception& error) {
        detail::LogActionFailure(hInstall, [&error] {
            _stringx<> what(error.what(), CP_ACP);
            return FormatText(L"Unexpected failure: %s", what.c_str());
        });
    } catch (...) {
        detail::LogActionFailure(hInstall, [] { return _stringx<>(L"Unexpected failure"); });
    }
    return failure;
}

} // namespace qx
