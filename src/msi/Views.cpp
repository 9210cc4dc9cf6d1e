#include "msi/Views.h"

#include <memory>

namespace {

const DWORD kRecordStringStackCapacity = 2048;

} // namespace

UINT OpenExecute(qx::unique_msihandle* view, MSIHANDLE database, const wchar_t* query)
{
    view->reset();
    UINT result = ::MsiDatabaseOpenViewW(database, query, view->put());
    CheckMsiResult(result, L"MsiOpenDatabaseView");
    result = ::MsiViewExecute(view->get(), 0);
    CheckMsiResult(result, L"MsiViewExecute");
    return result;
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
