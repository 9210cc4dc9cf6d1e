// Whether a component is 64-bit, and whether its states in this installation call
// for the permissions of its lock objects.
#pragma once

#include <windows.h>
#include <msi.h>

#include "msi/InstallerSession.h"
#include "support/stringx.h"

// True when the component is being installed to the local machine, or is installed
// locally with an action pending other than removal or advertisement. A locally
// installed component with no action pending is left as it is.
bool ComponentStatesKeepRow(INSTALLSTATE installed, INSTALLSTATE action);

// Whether the component's attributes carry the 64-bit bit; false (after a log
// line) for a component without a Component row.
bool QueryComponent64Bit(const InstallerSession& session, const _stringx<>& component);
// False drops the row. When the installer cannot tell the component's states,
// costing stops: qx::error with the installer's code.
bool QueryComponentInstalling(const InstallerSession& session, const _stringx<>& component);
