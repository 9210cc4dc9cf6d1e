#include "apply/Rollback.h"

#include <sddl.h>

#include "apply/ApplyRules.h"
#include "apply/ObjectSecurity.h"
#include "cost/CustomActionData.h"
#include "support/platform.h"
#include "support/unique_any.h"

namespace {

constexpr std::size_t kRollbackFields = 5;

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

// A null DACL is saved and read by its SDDL name, with the protection flag: not
// every SDDL converter tells it from an empty list, which would deny everyone.
const wchar_t kNullDacl[] = L"D:NO_ACCESS_CONTROL";
const wchar_t kProtectedNullDacl[] = L"D:PNO_ACCESS_CONTROL";

const wchar_t* NullDaclText(PSECURITY_DESCRIPTOR descriptor)
{
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    const bool isProtected =
        ::GetSecurityDescriptorControl(descriptor, &control, &revision) && (control & SE_DACL_PROTECTED) != 0;
    return isProtected ? kProtectedNullDacl : kNullDacl;
}

// Opens a file or folder where the route reaches it (the native view with
// redirection off), and tells which object it is; the handle needs no switch.
DWORD OpenInView(const _stringx<>& name, ObjectView view, ACCESS_MASK access, qx::unique_file& file,
                 _stringx<>& identity)
{
    RedirectionOff redirection(view == ObjectView::View64);
    return OpenIdentifiedFile(name, access, file, identity);
}

// An object's list as it is now: dacl points into descriptor. For a file or folder,
// also which object it is.
struct SavedList {
    qx::unique_local<void> descriptor;
    PACL dacl = nullptr;
    _stringx<> identity;
};

// Reads a file's or folder's list through the handle that tells which object it is,
// so that both come from the same object.
DWORD ReadList(CSecurityFunctions& security, const _stringx<>& name, SE_OBJECT_TYPE type, ObjectView view,
               SavedList& saved)
{
    if (type != SE_FILE_OBJECT) {
        return ReadObjectDacl(security, name, NamedObjectType(type, view), &saved.dacl, saved.descriptor);
    }
    qx::unique_file file;
    DWORD result = OpenInView(name, view, READ_CONTROL | FILE_READ_ATTRIBUTES, file, saved.identity);
    if (result == ERROR_SUCCESS) {
        result = security.GetSecurityInfo(file.get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                          &saved.dacl, nullptr, saved.descriptor.put());
    }
    return result;
}

// What putting one list back came to: a code, or the finding that the name now
// leads to another file or folder than the one whose list was saved.
struct Restored {
    DWORD error = ERROR_SUCCESS;
    bool anotherObject = false;
};

Restored Restore(CSecurityFunctions& security, const _stringx<>& name, SE_OBJECT_TYPE type, ObjectView view,
                 const _stringx<>& identity, const _stringx<>& sddl)
{
    qx::unique_local<void> descriptor;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, descriptor.put(), nullptr)) {
        return {::GetLastError()};
    }
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr; // null in a present list: a null DACL, put back as one
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (!::GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted) ||
        !::GetSecurityDescriptorControl(descriptor.get(), &control, &revision)) {
        return {::GetLastError()};
    }
    if (!present) {
        return {ERROR_INVALID_SECURITY_DESCR}; // costing saves none such: writing it would mean a null DACL
    }
    if (sddl == kNullDacl || sddl == kProtectedNullDacl) {
        dacl = nullptr;
    }
    // The protection state as it was: a list that inherited goes on inheriting.
    const SECURITY_INFORMATION information =
        DACL_SECURITY_INFORMATION | ((control & SE_DACL_PROTECTED) != 0 ? PROTECTED_DACL_SECURITY_INFORMATION
                                                                        : UNPROTECTED_DACL_SECURITY_INFORMATION);
    if (type != SE_FILE_OBJECT) {
        return {WriteObjectDacl(security, name, NamedObjectType(type, view), information, dacl)};
    }
    // Compared and written through one handle: the object cannot change in between.
    qx::unique_file file;
    _stringx<> now;
    const DWORD result = OpenInView(name, view, READ_CONTROL | WRITE_DAC | FILE_READ_ATTRIBUTES, file, now);
    if (result != ERROR_SUCCESS) {
        return {result};
    }
    if (now != identity) {
        return {ERROR_SUCCESS, true};
    }
    return {security.SetSecurityInfo(file.get(), SE_FILE_OBJECT, information, nullptr, nullptr, dacl, nullptr)};
}

} // namespace

CAccessListCapture::CAccessListCapture(CSecurityFunctions& security, qx::log_sink& log)
    : m_security(security), m_log(log), m_strSystemDirectory(qx::system_directory())
{
}

void CAccessListCapture::Capture(const PermissionsItem& item)
{
    // The install action refuses a file or folder without a full name, and only a
    // 32-bit library under WOW64 carries the helper its routed keys need: putting
    // back a list it never changed would only undo what others changed since.
    if (HasRelativeFileName(item) || (AppliesThroughHelper(item) && !qx::running_on_wow64())) {
        return;
    }
    const ObjectView view = RouteViewOf(item, m_strSystemDirectory);
    // The record's first three fields: the object as the rollback action finds it again.
    _stringx<> record =
        FormatText(L"%s|%d|%d", item.m_strObjectName.c_str(), item.m_objectType, static_cast<int>(view));
    if (!m_captured.insert(record.str()).second) {
        return; // an earlier row's capture holds the list as it was
    }

    SavedList saved;
    DWORD result = ReadList(m_security, item.m_strObjectName, item.m_objectType, view, saved);
    if (result == ERROR_FILE_NOT_FOUND || result == ERROR_PATH_NOT_FOUND || result == ERROR_SERVICE_DOES_NOT_EXIST) {
        return; // made by this installation: its removal takes the list too
    }
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    if (result == ERROR_SUCCESS && !saved.descriptor) {
        result = ERROR_INVALID_SECURITY_DESCR; // a call that succeeds with nothing read nothing
    }
    if (result == ERROR_SUCCESS && !::GetSecurityDescriptorDacl(saved.descriptor.get(), &present, &dacl, &defaulted)) {
        result = ::GetLastError();
    }
    qx::unique_local<wchar_t> sddl;
    if (result == ERROR_SUCCESS && present &&
        !::ConvertSecurityDescriptorToStringSecurityDescriptorW(saved.descriptor.get(), SDDL_REVISION_1,
                                                                DACL_SECURITY_INFORMATION, sddl.put(), nullptr)) {
        result = ::GetLastError();
    }
    if (result != ERROR_SUCCESS) {
        m_log.Log(FormatText(L"No rollback for '%s': its access list cannot be read, error 0x%08x",
                             item.m_strObjectName.c_str(), result));
        return;
    }
    // A descriptor without any DACL has nothing that writing a list could give back.
    if (!present) {
        m_log.Log(FormatText(L"No rollback for '%s': its security descriptor has no access list",
                             item.m_strObjectName.c_str()));
        return;
    }
    const _stringx<> list(dacl ? sddl.get() : NullDaclText(saved.descriptor.get()));
    if (HoldsSeparator(item.m_strObjectName) || HoldsSeparator(list)) {
        m_log.Log(FormatText(L"No rollback for '%s': its name or access list holds '*' or '|'",
                             item.m_strObjectName.c_str()));
        return;
    }
    record += FieldSeparator;
    record += saved.identity;
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
        const _stringx<> identity(fields[3].begin, fields[3].length());
        if (type == SE_FILE_OBJECT && (identity.empty() || !IsFullFileName(name))) {
            log.Log(FormatText(L"Did not restore access list of '%s': a file or folder is found again only by its "
                               L"full name and identity",
                               name.c_str()));
            return true;
        }
        const Restored restored =
            Restore(security, name, static_cast<SE_OBJECT_TYPE>(type), static_cast<ObjectView>(view), identity,
                    _stringx<>(fields[4].begin, fields[4].length()));
        if (restored.anotherObject) {
            log.Log(FormatText(L"Did not restore access list of '%s': it is no longer the object whose list was saved",
                               name.c_str()));
        } else if (restored.error == ERROR_SUCCESS) {
            log.Log(FormatText(L"Restored access list of '%s'", name.c_str()));
        } else {
            log.Log(FormatText(L"Failed to restore access list of '%s', error 0x%08x", name.c_str(), restored.error));
        }
        return true;
    });
}
