// The platform calls both floors make the way the library does: a log record, a
// record's field, a target path, one data record, and an object's access list
// read and written as text for rollback.
#pragma once

#include <windows.h>
#include <accctrl.h>
#include <msi.h>

#include <string>
#include <vector>

namespace qxbench {

// Balances CoInitialize as the manager does around each action.
class ComApartment {
public:
    ComApartment();
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    ~ComApartment();
};

void LogLine(MSIHANDLE session, const std::wstring& text);
std::wstring Field(MSIHANDLE record, UINT field);
std::wstring Hex(unsigned value);
std::wstring TargetPath(MSIHANDLE session, const std::wstring& directory);

// One row of the lock table, read with one view over the whole table.
struct LockRow {
    std::wstring object, table, domain, user;
    DWORD permission, flags;
};
std::vector<LockRow> ReadLockRows(MSIHANDLE database);

// Appends one record of the install text.
void Append(std::wstring& text, const std::wstring& object, const std::wstring& table, const std::wstring& domain,
            const std::wstring& user, DWORD permission, DWORD flags);

// Appends the object's access list as the rollback text keeps it (for a file or
// folder, with which object it was read from); false when it cannot be read.
bool CaptureList(std::wstring& data, const std::wstring& path, SE_OBJECT_TYPE type);

} // namespace qxbench
