// Questions about the platform: WOW64, administrator rights, file-system redirection,
// the system folder.
#pragma once

#include "support/stringx.h"

namespace qx {

bool running_on_wow64();
bool user_has_admin_rights();
bool token_has_group(bool administrators, bool denyOnly);
// false switches redirection off, true switches it back to the state saved by the
// matching switch-off. Returns whether the system call succeeded.
bool set_fs_redirection(bool enable);
// The system folder, as GetSystemDirectoryW gives it.
_stringx<> system_directory();

} // namespace qx
