// The owner of an installer handle (session, database, view, record, summary).
#pragma once

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include "support/unique_any.h"

namespace qx {

using unique_msihandle = unique_any<MSIHANDLE, &::MsiCloseHandle>;

} // namespace qx
