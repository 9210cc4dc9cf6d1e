// Questions about the platform: WOW64, administrator rights, file-system redirection.
#pragma once

namespace qx {

bool running_on_wow64();
bool user_has_admin_rights();
bool token_has_group(bool administrators, bool denyOnly);
// false switches redirection off, true switches it back to the state saved by the
// matching switch-off. Returns whether the system call succeeded.
bool set_fs_redirection(bool enable);

} // namespace qx
