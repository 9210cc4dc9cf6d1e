#include "ExplainRows.h"

#include <msiquery.h>
#include <sddl.h>

#include "apply/AccessEntries.h"
#include "apply/AccountResolution.h"
#include "apply/ObjectSecurity.h"
#include "apply/SecurityFunctions.h"
#include "cost/LockObjectResolution.h"
#include "msi/InstallerSession.h"
#include "msi/LockTableReader.h"
#include "support/sids.h"
#include "msi/MsiHandle.h"
#include "msi/Queries.h"
#include "msi/Views.h"
#include "support/log_sink.h"
#include "support/error.h"
#include "support/platform.h"
#include "support/unique_any.h"

namespace qxcheck {

namespace {

// The library's progress lines are of no use to the explanation: its failures come
// with their own text.
class NoLog : public qx::log_sink {
public:
    void Log(const _stringx<>& /*message*/) override { }
};

// No user interface for the sessions opened while it lives.
class QuietInstaller {
public:
    QuietInstaller() : m_previous(::MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr)) { }
    QuietInstaller(const QuietInstaller&) = delete;
    QuietInstaller& operator=(const QuietInstaller&) = delete;
    ~QuietInstaller() { ::MsiSetInternalUI(m_previous, nullptr); }

private:
    INSTALLUILEVEL m_previous;
};

// The rows' keys as the table holds them, in the order the library reads the rows.
std::vector<std::wstring> Subjects(MSIHANDLE database)
{
    std::vector<std::wstring> subjects;
    if (::MsiDatabaseIsTablePersistentW(database, g_szLockTable) >= MSICONDITION_NONE) {
        return subjects;
    }
    qx::unique_msihandle view;
    OpenExecute(&view, database, g_strQueryLockTable.c_str());
    ForEachRecord(view.get(), [&](MSIHANDLE record) {
        subjects.push_back(GetRecordString(record, 1) + L"/" + GetRecordString(record, 2) + L"/" +
                           GetRecordString(record, 3) + L"/" + GetRecordString(record, 4));
    });
    return subjects;
}

std::wstring SidText(PSID sid)
{
    qx::unique_local<wchar_t> text;
    return ::ConvertSidToStringSidW(sid, text.put()) ? std::wstring(text.get()) : std::wstring();
}

// The descriptor's access list as SDDL; empty when it cannot be converted.
std::wstring DaclText(PSECURITY_DESCRIPTOR descriptor)
{
    qx::unique_local<wchar_t> text;
    return ::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                                  DACL_SECURITY_INFORMATION, text.put(), nullptr)
               ? std::wstring(text.get())
               : std::wstring();
}

// The object's list where the install action reaches it, and, for an entry the
// library merges itself, the list the merge makes of it.
void ReadCurrent(CSecurityFunctions& security, const _stringx<>& systemDirectory, EXPLICIT_ACCESS_W& entry,
                 ExplainedRow& row)
{
    row.readCurrent = true;
    qx::unique_local<void> descriptor;
    PACL dacl = nullptr; // points into the descriptor
    {
        RedirectionOff redirection(AppliesWithoutRedirection(row.item, systemDirectory));
        row.readError = ReadObjectDacl(security, row.item.m_strObjectName,
                                       NamedObjectType(row.item.m_objectType, row.view), &dacl, descriptor);
    }
    if (row.readError == ERROR_SUCCESS && !descriptor) {
        row.readError = ERROR_INVALID_SECURITY_DESCR; // a call that succeeds with nothing read nothing
    }
    if (row.readError != ERROR_SUCCESS) {
        return;
    }
    row.now = DaclText(descriptor.get());
    if (row.throughHelper || row.sid.empty()) {
        return; // the 64-bit library merges nothing into it
    }
    qx::unique_local<ACL> merged;
    row.mergeError = security.SetEntriesInAclW(1, &entry, dacl, merged.put());
    SECURITY_DESCRIPTOR after;
    if (row.mergeError == ERROR_SUCCESS && (!::InitializeSecurityDescriptor(&after, SECURITY_DESCRIPTOR_REVISION) ||
                                            !::SetSecurityDescriptorDacl(&after, TRUE, merged.get(), FALSE))) {
        row.mergeError = ::GetLastError();
    }
    if (row.mergeError == ERROR_SUCCESS) {
        row.after = DaclText(&after);
    }
}

// The entry, the account and the route of a row costing wrote.
void ExplainWritten(CSecurityFunctions& security, qx::log_sink& log, const _stringx<>& systemDirectory, bool current,
                    ExplainedRow& row)
{
    const PermissionsItem& item = row.item;
    row.throughHelper = AppliesThroughHelper(item);
    row.view = RouteViewOf(item, systemDirectory);

    // An account this machine does not know is resolved again at install time.
    qx::unique_local<void> sid;
    try {
        sid = ResolveItemSid(security, log, item.m_strDomain, item.m_strUser);
    } catch (const qx::error& failure) {
        row.accountError = failure.code();
    }
    EXPLICIT_ACCESS_W entry = BuildExplicitAccess(item, sid.get());
    row.mode = entry.grfAccessMode;
    row.inheritance = entry.grfInheritance;
    if (row.accountError == ERROR_SUCCESS) {
        row.sid = SidText(sid.get());
        row.account = qx::account_name_of(sid.get());
    }
    if (row.account.empty()) {
        row.account =
            item.m_strDomain.empty() ? item.m_strUser.str() : item.m_strDomain.str() + L"\\" + item.m_strUser.str();
    }
    if (current) {
        ReadCurrent(security, systemDirectory, entry, row);
    }
}

} // namespace

std::vector<ExplainedRow> ExplainRows(const std::wstring& package, const std::vector<PropertySetting>& properties,
                                      bool current)
{
    QuietInstaller quiet;
    qx::unique_msihandle session;
    CheckMsiResult(::MsiOpenPackageW(package.c_str(), session.put()), L"MsiOpenPackage", package.c_str());
    // Every feature local, unless the properties say otherwise.
    CheckMsiResult(::MsiSetPropertyW(session.get(), L"ADDLOCAL", L"ALL"), L"MsiSetProperty", L"ADDLOCAL");
    for (const PropertySetting& property : properties) {
        CheckMsiResult(::MsiSetPropertyW(session.get(), property.first.c_str(), property.second.c_str()),
                       L"MsiSetProperty", property.first.c_str());
    }
    for (const wchar_t* action : {L"CostInitialize", L"FileCost", L"CostFinalize"}) {
        CheckMsiResult(::MsiDoActionW(session.get(), action), L"MsiDoAction", action);
    }
    qx::unique_msihandle database(::MsiGetActiveDatabase(session.get()));
    if (!database) {
        CheckMsiResult(ERROR_INVALID_HANDLE, L"MsiGetActiveDatabase");
    }

    NoLog log;
    const InstallerSession layers{session.get(), database.get(), log};
    std::vector<LockPermissionsRow> rows;
    GetAllPermissionsItems(layers, rows);
    const std::vector<std::wstring> subjects = Subjects(database.get());
    std::vector<ExplainedRow> explained(rows.size());
    for (std::size_t i = 0; i < explained.size() && i < subjects.size(); ++i) {
        explained[i].subject = subjects[i];
    }

    // Each row the pass examines ends in exactly one of the two calls, in order.
    std::size_t next = 0;
    _stringx<> data;
    try {
        BuildFinalPermissionsItems(
            layers, rows, data,
            [&](const PermissionsItem& item) {
                explained[next].fate = RowFate::Written;
                explained[next++].item = item;
            },
            [&](const LockPermissionsRow& row, RowSkip reason, const _stringx<>& component) {
                ExplainedRow& skipped = explained[next++];
                skipped.fate =
                    reason == RowSkip::ConditionFalse ? RowFate::ConditionFalse : RowFate::ComponentNotInstalled;
                skipped.detail = reason == RowSkip::ConditionFalse ? row.m_strCondition.str() : component.str();
            });
    } catch (const qx::installer_error&) {
        throw; // the package cannot be explained
    } catch (const qx::error& failure) {
        // Costing stops at this row, as it will at install time.
        if (next < explained.size()) {
            explained[next].fate = RowFate::CostingStops;
            explained[next].detail = failure.message().str() + L" (error " + std::to_wstring(failure.code()) + L")";
        }
    }

    CSecurityFunctions security;
    const _stringx<> systemDirectory = qx::system_directory();
    for (ExplainedRow& row : explained) {
        if (row.fate == RowFate::Written) {
            ExplainWritten(security, log, systemDirectory, current, row);
        }
    }
    return explained;
}

} // namespace qxcheck
