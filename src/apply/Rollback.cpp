#include "apply/Rollback.h"

#include <sddl.h>

#include "apply/ApplyRules.h"
#include "cost/CustomActionData.h"
#include "support/platform.h"
#include "support/unique_any.h"

namespace {

constexpr std::size_t kRollbackFields = 4;

bool HoldsSeparator(const _stringx<>& text)
{
    return text.find(RecordSeparator) != _stringx<>::npos || text.find(FieldSeparator) != _stringx<>::npos;
}

bool KnownType(DWORD type)
{
    return type == SE_FILE_OBJECT || type == SE_REGISTRY_KEY || type == SE_SERVICE;
}

bool KnownView(DWORD view)
{
    return view == static_cast<DWORD>(ObjectView::Own) || view == static_cast<DWORD>(ObjectView::View32) ||
           view == static_cast<DWORD>(ObjectView::View64);
}

// A file or folder seen from the native view is reached with redirection off.
bool NeedsRedirectionOff(SE_OBJECT_TYPE type, ObjectView view)
{
    return type == SE_FILE_OBJECT && view == ObjectView::View64;
}

// Writes one saved list back: 0 or the failure's code.
DWORD Restore(CSecurityFunctions& security, _stringx<> name, SE_OBJECT_TYPE type, ObjectView view,
              const _stringx<>& sddl)
{
    qx::unique_local<void> descriptor;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, descriptor.put(), nullptr)) {
        return ::GetLastError();
    }
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (!::GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted) ||
        !::GetSecurityDescriptorControl(descriptor.get(), &control, &revision)) {
        return ::GetLastError();
    }
    // The protection state as it was: a list that inherited goes on inheriting.
    const SECURITY_INFORMATION information =
        DACL_SECURITY_INFORMATION | ((control & SE_DACL_PROTECTED) != 0 ? PROTECTED_DACL_SECURITY_INFORMATION
                                                                        : UNPROTECTED_DACL_SECURITY_INFORMATION);
    RedirectionOff redirection(NeedsRedirectionOff(type, view));
    _stringx<>::string_buffer buffer(name);
    return security.SetNamedSecurityInfoW(buffer.get(), NamedObjectType(type, view), information, nullptr, nullptr,
                                          dacl, nullptr);
}

} // namespace

CAccessListCapture::CAccessListCapture(CSecurityFunctions& security, qx::log_sink& log)
    : m_security(security), m_log(log), m_strSystemDirectory(qx::system_directory())
{
}

void CAccessListCapture::Capture(const PermissionsItem& item)
{
    const ObjectView view = RouteViewOf(item, m_strSystemDirectory);
    // The record's first three fields: the object as the rollback action finds it again.
    _stringx<> record =
        FormatText(L"%s|%d|%d", item.m_strObjectName.c_str(), item.m_objectType, static_cast<int>(view));
    if (!m_captured.insert(record.str()).second) {
        return; // an earlier row's capture holds the list as it was
    }

    _stringx<> name(item.m_strObjectName);
    qx::unique_local<void> descriptor;
    PACL dacl = nullptr;
    DWORD result;
    {
        RedirectionOff redirection(NeedsRedirectionOff(item.m_objectType, view));
        _stringx<>::string_buffer buffer(name);
        result = m_security.GetNamedSecurityInfoW(buffer.get(), NamedObjectType(item.m_objectType, view),
                                                  DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                                                  descriptor.put());
    }
    if (result == ERROR_FILE_NOT_FOUND || result == ERROR_PATH_NOT_FOUND || result == ERROR_SERVICE_DOES_NOT_EXIST) {
        return; // made by this installation: its removal takes the list too
    }
    if (result == ERROR_SUCCESS && !descriptor) {
        result = ERROR_INVALID_SECURITY_DESCR; // a call that succeeds with nothing read nothing
    }
    qx::unique_local<wchar_t> sddl;
    if (result == ERROR_SUCCESS &&
        !::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor.get(), SDDL_REVISION_1,
                                                                DACL_SECURITY_INFORMATION, sddl.put(), nullptr)) {
        result = ::GetLastError();
    }
    if (result != ERROR_SUCCESS) {
        m_log.Log(FormatText(L"No rollback for '%s': its access list cannot be read, error 0x%08x",
                             item.m_strObjectName.c_str(), result));
        return;
    }
    const _stringx<> list(sddl.get());
    if (HoldsSeparator(item.m_strObjectName) || HoldsSeparator(list)) {
        m_log.Log(FormatText(L"No rollback for '%s': its name or access list holds '*' or '|'",
                             item.m_strObjectName.c_str()));
        return;
    }
    record += FieldSeparator;
    record += list;
    AppendDataRecord(m_strData, record);
}

void RestoreAccessLists(CSecurityFunctions& security, qx::log_sink& log, const _stringx<>& data)
{
    unsigned record = 0;
    ReadDataRecords(data, [&](const DataField* fields, std::size_t count) {
        ++record;
        const DWORD type = count == kRollbackFields ? ReadDataNumber(fields[1]) : 0;
        const DWORD view = count == kRollbackFields ? ReadDataNumber(fields[2]) : 0;
        if (count != kRollbackFields || !KnownType(type) || !KnownView(view)) {
            log.Log(FormatText(L"Rollback record %u contains invalid data", record));
            return true; // the others are still worth putting back
        }
        const _stringx<> name(fields[0].begin, fields[0].length());
        const DWORD result = Restore(security, name, static_cast<SE_OBJECT_TYPE>(type), static_cast<ObjectView>(view),
                                     _stringx<>(fields[3].begin, fields[3].length()));
        if (result == ERROR_SUCCESS) {
            log.Log(FormatText(L"Restored access list of '%s'", name.c_str()));
        } else {
            log.Log(FormatText(L"Failed to restore access list of '%s', error 0x%08x", name.c_str(), result));
        }
        return true;
    });
}
