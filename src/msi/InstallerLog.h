// One line into the installation log of a running installation.
#pragma once

#include <windows.h>
#include <msi.h>

#include "support/stringx.h"

// Through the template "Qelmora [Time]: [1]", with the message unchanged (a trailing
// newline stays). A record that cannot be made, or a message the installer
// rejects, is dropped.
void WriteLogLine(MSIHANDLE hInstall, const _stringx<>& message) noexcept;
