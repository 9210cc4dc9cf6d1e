// Uniquely named temporary folders and file names.
#pragma once

#include "support/stringx.h"

namespace qx {

// The user's temporary folder with its trailing backslash; empty on failure.
_stringx<> temp_folder();
// A new GUID as 36 upper-case characters, without braces.
_stringx<> new_guid_string();
// A new "{GUID}\" folder in the temporary folder, created with a protected ACL that
// grants Users read-and-execute, Administrators and LocalSystem full control and
// nothing else; empty on failure, with the failure's code as the last error.
_stringx<> create_secure_temp_folder();
// The same with the list the temporary folder hands down; empty on failure.
_stringx<> create_temp_folder();

} // namespace qx
