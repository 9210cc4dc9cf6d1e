// What the installer-side layers need of one custom action call: the session, its
// active database, and where messages go. Nothing in it is owned.
#pragma once

#include <windows.h>
#include <msi.h>

#include "support/log_sink.h"

struct InstallerSession {
    MSIHANDLE hInstall;
    MSIHANDLE hDatabase;
    qx::log_sink& log;
};
