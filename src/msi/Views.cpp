#include "msi/Views.h"

#include <cstdarg>
#include <cstdio>
#include <memory>

namespace {

const std::size_t kQueryCapacity = 2048;
const DWORD kRecordStringStackCapacity = 2048;

// The Microsoft formatter: in a wide format, %s takes a wide string.
void FormatQuery(wchar_t (&query)[kQueryCapacity], const wchar_t* queryTemplate, va_list arguments)
{
    query[0] = L'\0';
    _vsnwprintf_s(query, kQueryCapacity, _TRUNCATE, queryTemplate, arguments);
}

UINT OpenAndExecute(qx::unique_msihandle* view, MSIHANDLE database, const wchar_t* query)
{
    view->reset();
    UINT result = ::MsiDatabaseOpenViewW(database, query, view->put());
    CheckMsiResult(result, L"MsiOpenDatabaseView");
    result = ::MsiViewExecute(view->get(), 0);
    CheckMsiResult(result, L"MsiViewExecute");
    return result;
}

} // namespace

UINT OpenExecuteFetch(qx::unique_msihandle* view, MSIHANDLE database, qx::unique_msihandle* record,
                      const wchar_t* queryTemplate, ...)
{
    wchar_t query[kQueryCapacity];
    va_list arguments;
    va_start(arguments, queryTemplate);
    FormatQuery(query, queryTemplate, arguments);
    va_end(arguments);

    OpenAndExecute(view, database, query);
    UINT result = ::MsiViewFetch(view->get(), record->put());
    if (result != ERROR_SUCCESS && result != ERROR_NO_MORE_ITEMS) {
        CheckMsiResult(result, L"MsiViewFetch");
    }
    return result;
}

UINT OpenExecute(qx::unique_msihandle* view, MSIHANDLE database, const wchar_t* queryTemplate, ...)
{
    wchar_t query[kQueryCapacity];
    va_list arguments;
    va_start(arguments, queryTemplate);
    FormatQuery(query, queryTemplate, arguments);
    va_end(arguments);

    return OpenAndExecute(view, database, query);
}

std::wstring GetRecordString(MSIHANDLE record, UINT field)
{
    wchar_t stackBuffer[kRecordStringStackCapacity];
    stackBuffer[0] = L'\0';
    DWORD size = kRecordStringStackCapacity;
    UINT result = ::MsiRecordGetStringW(record, field, stackBuffer, &size);

    std::unique_ptr<wchar_t[]> heapBuffer;
    if (result == ERROR_MORE_DATA) {
        // MsiRecordDataSize counts characters; twice that leaves room to spare.
        DWORD heapSize = 2 * ::MsiRecordDataSize(record, field) + 1;
        heapBuffer.reset(new wchar_t[heapSize]);
        heapBuffer[0] = L'\0';
        result = ::MsiRecordGetStringW(record, field, heapBuffer.get(), &heapSize);
        if (result != ERROR_SUCCESS) {
            heapBuffer.reset();
        }
    }
    CheckMsiResult(result, L"MsiRecordGetString");
    return std::wstring(heapBuffer ? heapBuffer.get() : stackBuffer);
}
