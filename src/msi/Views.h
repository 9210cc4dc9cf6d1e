// Queries, record fields and the installer error reporter.
#pragma once

#include <windows.h>
#include <msiquery.h>

#include <string>

#include "msi/MsiHandle.h"
#include "support/stringx.h"

// Throws qx::installer_error for a non-zero installer result, with the installer's text and the call's name.
void CheckMsiResult(UINT result, const wchar_t* operation, const wchar_t* argument1 = L"",
                    const wchar_t* argument2 = L"");

// Opens and executes the view of the query; the caller fetches until 259. Failures raise.
UINT OpenExecute(qx::unique_msihandle* view, MSIHANDLE database, const wchar_t* query);
// Hands every record of an executed view to each, in order; a failing fetch raises.
template <class Each> void ForEachRecord(MSIHANDLE view, Each each)
{
    qx::unique_msihandle record;
    for (;;) {
        const UINT result = ::MsiViewFetch(view, record.put());
        if (result == ERROR_NO_MORE_ITEMS) {
            return;
        }
        CheckMsiResult(result, L"MsiViewFetch");
        each(record.get());
    }
}

// A field's text of any length; a null field gives the empty string.
std::wstring GetRecordString(MSIHANDLE record, UINT field);

// Reads a text of any length through an installer call of the form
// call(buffer, &size): a first try in 260 characters, then one more in the size
// the installer reports (which leaves out the terminator). The first call's result.
template <class Call> UINT ReadInstallerText(_stringx<>& text, Call call)
{
    DWORD size = MAX_PATH;
    text.resize(size);
    UINT result;
    {
        _stringx<>::string_buffer buffer(text);
        result = call(buffer.get(), &size);
    }
    if (result == ERROR_MORE_DATA) {
        ++size;
        if (text.length() < size) {
            text.resize(size);
        }
        _stringx<>::string_buffer buffer(text);
        call(buffer.get(), &size);
    }
    return result;
}
