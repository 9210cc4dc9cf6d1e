#include "msi/InstallerLog.h"

#include "msi/MsiHandle.h"

namespace {

const wchar_t kLogTemplate[] = L"Qelmora [Time]: [1]";

} // namespace

void WriteLogLine(MSIHANDLE hInstall, const _stringx<>& message) noexcept
{
    qx::unique_msihandle record(::MsiCreateRecord(2));
    if (!record) {
        return;
    }
    ::MsiRecordSetStringW(record.get(), 0, kLogTemplate);
    ::MsiRecordSetStringW(record.get(), 1, message);
    ::MsiProcessMessage(hInstall, INSTALLMESSAGE_INFO, record.get());
}
