// Queries, record fields and the installer error reporter.
#pragma once

#include <windows.h>

#include <string>

#include "msi/MsiHandle.h"
#include "support/stringx.h"

// Raises com_exception for a non-zero installer result, with the installer's text and the call's name.
void CheckMsiResult(UINT result, const wchar_t* operation, const wchar_t* argument1 = L"",
                    const wchar_t* argument2 = L"");

// Formats the query from its template, opens and executes the view and fetches the
// first record: 0, or 259 when there is no row. Other failures raise.
UINT OpenExecuteFetch(CMsiHandle* view, MSIHANDLE database, CMsiHandle* record, const wchar_t* queryTemplate, ...);
// The same without the fetch: the caller fetches until 259.
UINT OpenExecute(CMsiHandle* view, MSIHANDLE database, const wchar_t* queryTemplate, ...);
// A field's text of any length; a null field gives the empty string.
std::wstring GetRecordString(MSIHANDLE record, UINT field);
