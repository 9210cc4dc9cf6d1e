// An object's access list read and written where the actions really find the
// object: registry keys of an explicit view through a key handle opened in that
// view (the named calls ignore the view types on some platforms, reading nothing
// and writing nothing), and files and folders through a handle that also tells
// which object it is.
#pragma once

#include <windows.h>
#include <accctrl.h>

#include "apply/SecurityFunctions.h"
#include "support/stringx.h"
#include "support/unique_any.h"

// The DACL of the object as the named-security calls name it, with type as
// NamedObjectType gives it (SE_REGISTRY_WOW64_32KEY for a key of the 32-bit view,
// and so on). dacl points into descriptor; a null dacl in a present list is a null
// DACL. 0 or the failure's code (2 for an object that is not there).
DWORD ReadObjectDacl(CSecurityFunctions& security, const _stringx<>& name, SE_OBJECT_TYPE type, PACL* dacl,
                     qx::unique_local<void>& descriptor);
// Writes the DACL (and whatever protection flag information carries) the same way.
DWORD WriteObjectDacl(CSecurityFunctions& security, const _stringx<>& name, SE_OBJECT_TYPE type,
                      SECURITY_INFORMATION information, PACL dacl);

// Opens a file or a folder (with backup semantics) for the given access, following
// what the name leads to, and tells which object it is: its volume serial number
// and file index as one word ("1a2b3c4d:0000000000012345"). 0 or the failure's code.
DWORD OpenIdentifiedFile(const _stringx<>& name, ACCESS_MASK access, qx::unique_file& file, _stringx<>& identity);
