// What an aborted installation needs to put back: the access lists of the objects
// the install action changes, captured while costing, and restored by the
// rollback action. The data is one record per object, "name|type|view|identity|SDDL",
// in the custom action data's reader rules; the identity says which file or folder
// the list was read from (OpenIdentifiedFile), and is empty for a registry key, whose
// name says which key it is.
#pragma once

#include <windows.h>

#include <set>
#include <string>

#include "apply/SecurityFunctions.h"
#include "cost/PermissionsItem.h"
#include "support/log_sink.h"
#include "support/stringx.h"

class CAccessListCapture {
public:
    CAccessListCapture(CSecurityFunctions& security, qx::log_sink& log);

    // Records the access list of the item's object, as the install action's route
    // will find it, once per object. What the install action will not change needs
    // nothing, and neither does an object that does not exist yet (the installer
    // removes it); one whose list cannot be read or put back as it was, or whose
    // name or list holds the data's separators, is logged and left out.
    void Capture(const PermissionsItem& item);

    const _stringx<>& Data() const noexcept { return m_strData; }

private:
    CSecurityFunctions& m_security;
    qx::log_sink& m_log;
    _stringx<> m_strSystemDirectory;
    _stringx<> m_strData;
    std::set<std::wstring> m_captured; // name|type|view of every object asked for
};

// Writes back every saved access list with its protection state, logging one
// line per record; bad records, and files and folders that are no longer the ones
// whose lists were saved, are logged and passed over. Never fails.
void RestoreAccessLists(CSecurityFunctions& security, qx::log_sink& log, const _stringx<>& data);
