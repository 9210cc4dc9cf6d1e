// Whether a component's states in this installation call for the permissions of
// its lock objects.
#pragma once

#include <windows.h>
#include <msi.h>

// True when the component is being installed to the local machine, or is installed
// locally with an action pending other than removal or advertisement. A locally
// installed component with no action pending is left as it is.
bool ComponentStatesKeepRow(INSTALLSTATE installed, INSTALLSTATE action);
