// The floors the library is measured against, made of plain platform calls with
// nothing of the library around them (no strings of its own, no formatter, no
// holders). The per-row floors make the calls of one row after another: a keyed
// query per row, a read and a write per item. The unavoidable floors make only
// the work the job needs: each table read once, one read and one write per object.
#pragma once

#include <windows.h>
#include <accctrl.h>
#include <msi.h>

#include <string>
#include <vector>

namespace qxbench {

// The per-row cost floor's installer calls: the table check, the lock table view and its
// fields, per row the object's query, the component's query (twice for a file, as
// the library asks once for the attributes and once for the directory), the
// component state, the target path, the drive type, the log records, once per
// object the access list read and written as text for rollback, and at the end
// the two properties. Returns the install text it stored.
std::wstring CostFloor(MSIHANDLE session);

// The unavoidable cost floor: the table check, one pass over the lock table and
// over each of File, CreateFolder, Registry and Component (the columns costing
// needs), the same log records, the state of each component, the target path of
// each directory and the type of each drive asked once, once per object the
// access list read and written as text for rollback, and the two properties.
// Returns the install text it stored.
std::wstring CostUnavoidableFloor(MSIHANDLE session);

// One item as the install floor applies it, parsed before the clock starts.
struct FloorItem {
    std::wstring name;
    SE_OBJECT_TYPE type;
    WELL_KNOWN_SID_TYPE account;
    DWORD permission;
    DWORD inheritance;
};
std::vector<FloorItem> FloorItems(const std::wstring& text);

// The per-row install floor: the property, the system directory, and per item the
// SID buffer and well-known SID, two log records and the three named-security
// calls. Returns the first failing code, or 0.
DWORD InstallFloor(MSIHANDLE session, const std::vector<FloorItem>& items);

// The unavoidable install floor: the property, one SID per account, and per object
// (same name and type) two log records, one list read, one SetEntriesInAclW with
// all its items' entries and one write. Returns the first
// failing code, or 0.
DWORD InstallUnavoidableFloor(MSIHANDLE session, const std::vector<FloorItem>& items);

// Makes the three named-security calls once on a scratch file and key, so that
// what the system does on their first use in a process is paid by neither side.
void WarmUpSecurityCalls();

// What single platform calls cost here, in microseconds: the drive type that
// costing asks for every path, one keyed query on the File table (it grows with
// the table), one log record, and the three named-security calls for a file and
// for a key.
struct CallCosts {
    double driveType = 0, keyedQuery = 0, logRecord = 0, fileDacl = 0, keyDacl = 0;
};
CallCosts MeasureCalls(MSIHANDLE session, const std::vector<FloorItem>& items,
                       const std::vector<std::wstring>& fileKeys);

} // namespace qxbench
