// Uniquely named temporary folders and file names.
#pragma once

#include "support/stringx.h"

namespace qx {

// The user's temporary folder with its trailing backslash; empty on failure.
_stringx<> temp_folder();
// A new GUID as 36 upper-case characters, without braces.
_stringx<> new_guid_string();
// base (or the temporary folder) + "{GUID}\", created with a protected ACL that
// grants Users read-and-execute, Administrators and LocalSystem full control and
// nothing else; empty on failure, with the failure's code as the last error.
_stringx<> create_secure_temp_folder(const _stringx<>& base, bool shortName);
// A name that does not exist yet: a file name ("_qx" prefix) or a "{GUID}\" folder
// that is created; empty on failure.
_stringx<> unique_temp_name(bool file, const _stringx<>& extension, const _stringx<>& base, bool shortName);

} // namespace qx
