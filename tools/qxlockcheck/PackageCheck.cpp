#include "PackageCheck.h"

#include <msidefs.h>
#include <msiquery.h>

#include <algorithm>
#include <cstdio>
#include <cwctype>
#include <map>
#include <optional>
#include <set>

#include "apply/ApplyDriver.h"
#include "apply/ApplyRules.h"
#include "cost/CustomActionData.h"
#include "cost/PermissionsItem.h"
#include "msi/LockTableReader.h"
#include "msi/MsiHandle.h"
#include "msi/Queries.h"
#include "msi/Views.h"

namespace qxcheck {

namespace {

const wchar_t kCostEntry[] = L"QXLockPermissionsCostAction";
const wchar_t kInstallEntry[] = L"QXLockPermissionsInstallAction";
// The actions must bear the names of the properties the cost action stores their data in.
const wchar_t* const kInstallAction = kInstallDataProperty;
const wchar_t kRollbackEntry[] = L"QXLockPermissionsRollbackAction";
const wchar_t* const kRollbackAction = kRollbackDataProperty;

// The Type column of the CustomAction table: the code's kind and its source, and
// when a deferred action runs.
constexpr int kTypeCodeAndSource = 0x3F;
constexpr int kTypeDllInBinary = msidbCustomActionTypeDll | msidbCustomActionTypeBinaryData;
constexpr int kTypeRollbackOrCommit = msidbCustomActionTypeRollback | msidbCustomActionTypeCommit;
constexpr DWORD kTableFlags = LOCKPERM_DENY | LOCKPERM_NO_PROPAGATE | LOCKPERM_IGNORE_FAILURE;
constexpr DWORD kGenericRights = GENERIC_ALL | GENERIC_EXECUTE | GENERIC_WRITE | GENERIC_READ;

// Enough of a stream for the DOS header and the PE header it points to.
constexpr DWORD kImageHeadBytes = 4096;

enum class Library { Unknown, Bits32, Bits64 };

struct LockRow {
    std::wstring object;
    std::wstring table;
    std::wstring domain;
    std::wstring user;
    std::optional<int> permission;
    std::optional<int> flags;
    std::wstring condition;

    std::wstring Subject() const { return object + L"/" + table + L"/" + domain + L"/" + user; }
};

struct RegistryRow {
    std::optional<int> root;
    std::wstring key;
    std::wstring component;
};

struct ServiceRow {
    std::wstring name;
    std::wstring component;
};

struct CustomActionRow {
    int type = 0;
    std::wstring source;
    std::wstring target;
};

// The rows of the standard tables that the library looks objects up in, by key.
struct PackageTables {
    std::map<std::wstring, int> componentAttributes;
    std::map<std::wstring, std::wstring> fileComponents;
    std::map<std::wstring, RegistryRow> registryRows;
    std::map<std::wstring, ServiceRow> serviceRows;
    // The component of each directory's CreateFolder row that the library's own query gives first.
    std::map<std::wstring, std::wstring> folderComponents;
    // The kinds of object the lock table's rows name.
    std::set<LockObjectKind> lockKinds;
    std::set<std::wstring> directories;
    std::map<std::wstring, CustomActionRow> actions;
    std::map<std::wstring, std::optional<int>> executeSequence;
    std::set<std::wstring> binaries;
    bool hasApplyErrorMessage = false;
};

std::wstring Hex(DWORD value)
{
    wchar_t text[16] = {};
    std::swprintf(text, 16, L"0x%lX", static_cast<unsigned long>(value));
    return text;
}

std::wstring Quoted(const std::wstring& text)
{
    return L"'" + text + L"'";
}

void Add(std::vector<Finding>& findings, Severity severity, Check check, std::wstring subject, std::wstring message)
{
    findings.push_back({severity, check, std::move(subject), std::move(message)});
}

// 0: a temporary table, 1: a persistent one; 2 and 3: none.
bool HasTable(MSIHANDLE database, const wchar_t* table)
{
    return ::MsiDatabaseIsTablePersistentW(database, table) < MSICONDITION_NONE;
}

template <class Each> void ForEachRow(MSIHANDLE database, const wchar_t* table, const wchar_t* query, Each each)
{
    if (HasTable(database, table)) {
        qx::unique_msihandle view;
        OpenExecute(&view, database, query);
        ForEachRecord(view.get(), each);
    }
}

std::optional<int> IntegerField(MSIHANDLE record, UINT field)
{
    if (::MsiRecordIsNull(record, field)) {
        return std::nullopt;
    }
    return ::MsiRecordGetInteger(record, field);
}

PackageTables ReadTables(MSIHANDLE database)
{
    PackageTables tables;
    ForEachRow(database, L"Component", L"SELECT `Component`, `Attributes` FROM `Component`", [&](MSIHANDLE record) {
        tables.componentAttributes[GetRecordString(record, 1)] = ::MsiRecordGetInteger(record, 2);
    });
    ForEachRow(database, L"File", L"SELECT `File`, `Component_` FROM `File`", [&](MSIHANDLE record) {
        tables.fileComponents[GetRecordString(record, 1)] = GetRecordString(record, 2);
    });
    ForEachRow(database, L"Registry", L"SELECT `Registry`, `Root`, `Key`, `Component_` FROM `Registry`",
               [&](MSIHANDLE record) {
                   tables.registryRows[GetRecordString(record, 1)] = {
                       IntegerField(record, 2), GetRecordString(record, 3), GetRecordString(record, 4)};
               });
    ForEachRow(
        database, L"ServiceInstall", L"SELECT `ServiceInstall`, `Name`, `Component_` FROM `ServiceInstall`",
        [&](MSIHANDLE record) {
            tables.serviceRows[GetRecordString(record, 1)] = {GetRecordString(record, 2), GetRecordString(record, 3)};
        });
    // A folder's first CreateFolder row names its component, as costing takes it.
    ForEachRow(database, L"CreateFolder", L"SELECT `Directory_`, `Component_` FROM `CreateFolder`",
               [&](MSIHANDLE record) {
                   tables.folderComponents.emplace(GetRecordString(record, 1), GetRecordString(record, 2));
               });
    ForEachRow(database, g_szLockTable, g_strQueryLockTable.c_str(), [&](MSIHANDLE record) {
        if (::MsiRecordGetFieldCount(record) >= 2) { // a table of fewer columns is reported on its own
            const std::wstring table = GetRecordString(record, 2);
            tables.lockKinds.insert(LockObjectKindFromTable(table.c_str(), table.length()));
        }
    });
    ForEachRow(database, L"Directory", L"SELECT `Directory` FROM `Directory`",
               [&](MSIHANDLE record) { tables.directories.insert(GetRecordString(record, 1)); });
    ForEachRow(database, L"CustomAction", L"SELECT `Action`, `Type`, `Source`, `Target` FROM `CustomAction`",
               [&](MSIHANDLE record) {
                   tables.actions[GetRecordString(record, 1)] = {
                       ::MsiRecordGetInteger(record, 2), GetRecordString(record, 3), GetRecordString(record, 4)};
               });
    ForEachRow(database, L"InstallExecuteSequence", L"SELECT `Action`, `Sequence` FROM `InstallExecuteSequence`",
               [&](MSIHANDLE record) { tables.executeSequence[GetRecordString(record, 1)] = IntegerField(record, 2); });
    ForEachRow(database, L"Binary", L"SELECT `Name` FROM `Binary`",
               [&](MSIHANDLE record) { tables.binaries.insert(GetRecordString(record, 1)); });
    ForEachRow(database, L"Error", L"SELECT `Error`, `Message` FROM `Error`", [&](MSIHANDLE record) {
        if (::MsiRecordGetInteger(record, 1) == kApplyErrorMessage && !GetRecordString(record, 2).empty()) {
            tables.hasApplyErrorMessage = true;
        }
    });
    return tables;
}

WORD LittleEndian16(const std::string& bytes, std::size_t at)
{
    return static_cast<WORD>(static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8);
}

DWORD LittleEndian32(const std::string& bytes, std::size_t at)
{
    return static_cast<DWORD>(LittleEndian16(bytes, at)) | static_cast<DWORD>(LittleEndian16(bytes, at + 2)) << 16;
}

// The machine type of the DLL whose first bytes head holds; 0 when it is no DLL.
// The DOS header starts "MZ" and gives at 0x3C where "PE\0\0" and the file
// header follow: the machine type, and 18 bytes on the characteristics.
WORD DllMachine(const std::string& head)
{
    if (head.size() < 0x40 || head.compare(0, 2, "MZ") != 0) {
        return 0;
    }
    const DWORD pe = LittleEndian32(head, 0x3C);
    if (pe > head.size() || head.size() - pe < 24 || head.compare(pe, 4, std::string("PE\0\0", 4)) != 0) {
        return 0;
    }
    if ((LittleEndian16(head, pe + 22) & IMAGE_FILE_DLL) == 0) {
        return 0;
    }
    return LittleEndian16(head, pe + 4);
}

WORD BinaryMachine(MSIHANDLE database, const std::wstring& name)
{
    WORD machine = 0;
    qx::unique_msihandle view;
    OpenExecute(&view, database, L"SELECT `Name`, `Data` FROM `Binary`");
    ForEachRecord(view.get(), [&](MSIHANDLE record) {
        if (GetRecordString(record, 1) != name) {
            return;
        }
        std::string head(kImageHeadBytes, '\0');
        DWORD size = kImageHeadBytes;
        CheckMsiResult(::MsiRecordReadStream(record, 2, &head[0], &size), L"MsiRecordReadStream");
        head.resize(size);
        machine = DllMachine(head);
    });
    return machine;
}

std::optional<int> SequenceOf(const PackageTables& tables, const std::wstring& action)
{
    auto found = tables.executeSequence.find(action);
    return found == tables.executeSequence.end() ? std::nullopt : found->second;
}

enum class Order { After, Before };

// An error when the action's sequence is not on the given side of another action's,
// where that one is sequenced.
void CheckOrder(const PackageTables& tables, const std::wstring& action, int sequence, Order order,
                const std::wstring& other, const std::wstring& consequence, std::vector<Finding>& findings)
{
    const std::optional<int> bound = SequenceOf(tables, other);
    if (bound && (order == Order::After ? sequence <= *bound : sequence >= *bound)) {
        Add(findings, Severity::Error, Check::ActionSequence, action,
            L"sequence " + std::to_wstring(sequence) +
                (order == Order::After ? L" is not after " : L" is not before ") + other + L" (" +
                std::to_wstring(*bound) + L"): " + consequence);
    }
}

// The lock table's problem for the library, which reads it by position: text in
// columns 1 to 4, integers in 5 and 6. Empty when there is none.
std::wstring LockTableColumnsProblem(MSIHANDLE view)
{
    qx::unique_msihandle names;
    qx::unique_msihandle types;
    CheckMsiResult(::MsiViewGetColumnInfo(view, MSICOLINFO_NAMES, names.put()), L"MsiViewGetColumnInfo");
    CheckMsiResult(::MsiViewGetColumnInfo(view, MSICOLINFO_TYPES, types.put()), L"MsiViewGetColumnInfo");
    const UINT count = ::MsiRecordGetFieldCount(types.get());
    if (count < 6) {
        return L"the table has " + std::to_wstring(count) +
               L" columns; the library reads six by position: LockObject, Table, Domain and User as text, "
               L"Permission and Flags as integers: costing fails or reads the rows wrongly";
    }
    std::wstring problem;
    for (UINT column = 1; column <= 6; ++column) {
        const std::wstring type = GetRecordString(types.get(), column);
        const wchar_t kind = type.empty() ? L'\0' : static_cast<wchar_t>(std::towlower(type[0]));
        // s and l: text, g: temporary text; i: integer, j: temporary integer.
        const bool wantText = column <= 4;
        const bool fits = wantText ? (kind == L's' || kind == L'l' || kind == L'g') : (kind == L'i' || kind == L'j');
        if (!fits) {
            problem += (problem.empty() ? L"" : L"; ") + std::wstring(L"column ") + std::to_wstring(column) + L" (" +
                       GetRecordString(names.get(), column) + L", " + type + L") must be " +
                       (wantText ? L"text" : L"an integer");
        }
    }
    return problem.empty() ? problem
                           : problem + L": the library reads the columns by position, so it reads the rows wrongly";
}

void CheckSeparators(std::vector<Finding>& findings, const std::wstring& subject, const wchar_t* column,
                     const std::wstring& text, const wchar_t* remedy)
{
    const struct {
        wchar_t separator;
        const wchar_t* what; // what it separates, and what happens then
    } separators[] = {{RecordSeparator[0], L"the records of the install action's data: the record is cut in two and "
                                           L"the install action fails ('Item contains invalid data')"},
                      {FieldSeparator[0], L"the fields of the install action's data: the row's fields shift and "
                                          L"wrong values are applied"}};
    for (const auto& each : separators) {
        if (text.find(each.separator) != std::wstring::npos) {
            Add(findings, Severity::Error, Check::Separator, subject,
                std::wstring(column) + L" " + Quoted(text) + L" holds '" + each.separator + L"', which separates " +
                    each.what + L"; " + remedy);
        }
    }
}

// The table that names the object and the component it gives; none after a finding
// that stops costing.
std::optional<std::wstring> ResolveObject(const PackageTables& tables, const LockRow& row, LockObjectKind kind,
                                          std::vector<Finding>& findings)
{
    const std::wstring subject = row.Subject();
    const auto missing = [&](const std::wstring& table) -> std::optional<std::wstring> {
        Add(findings, Severity::Error, Check::MissingObject, subject,
            L"the " + table + L" table has no row " + Quoted(row.object) + L": costing stops ('Failed to query " +
                table + L" table') and the installation fails");
        return std::nullopt;
    };
    switch (kind) {
    case LockObjectKind::File: {
        auto file = tables.fileComponents.find(row.object);
        if (file == tables.fileComponents.end()) {
            return missing(L"File");
        }
        return file->second;
    }
    case LockObjectKind::CreateFolder: {
        auto folder = tables.folderComponents.find(row.object);
        if (folder == tables.folderComponents.end()) {
            const std::wstring what = tables.directories.count(row.object)
                                          ? L"directory " + Quoted(row.object) + L" has no CreateFolder row"
                                          : Quoted(row.object) + L" is no directory of the Directory table";
            Add(findings, Severity::Error, Check::FolderWithoutCreateFolder, subject,
                what +
                    L": costing stops ('Failed to fetch record from CreateFolder query') and the installation fails; "
                    L"give a component installed in that directory a CreateFolder row (<CreateFolder/>)");
            return std::nullopt;
        }
        return folder->second;
    }
    case LockObjectKind::Registry: {
        auto registry = tables.registryRows.find(row.object);
        if (registry == tables.registryRows.end()) {
            return missing(L"Registry");
        }
        const std::optional<int> root = registry->second.root;
        if (!root || *root < -1 || *root > 3) {
            Add(findings, Severity::Error, Check::RegistryRoot, subject,
                L"the Registry row's root is " + (root ? std::to_wstring(*root) : std::wstring(L"empty")) +
                    L"; the library knows -1 to 3: costing stops ('Unknown registry root type') and the "
                    L"installation fails");
        }
        CheckSeparators(findings, subject, L"the Registry row's key", registry->second.key,
                        L"the library cannot lock such a key: leave the row out");
        return registry->second.component;
    }
    case LockObjectKind::Service: {
        auto service = tables.serviceRows.find(row.object);
        if (service == tables.serviceRows.end()) {
            return missing(L"ServiceInstall");
        }
        CheckSeparators(findings, subject, L"the ServiceInstall row's name", service->second.name,
                        L"the library cannot lock such a service: leave the row out");
        return service->second.component;
    }
    case LockObjectKind::Unknown:
        break;
    }
    return std::nullopt;
}

// A service exists only once InstallServices has run.
void CheckServiceOrder(const PackageTables& tables, const LockRow& row, std::vector<Finding>& findings)
{
    const std::optional<int> install = SequenceOf(tables, kInstallAction);
    if (!install) {
        return; // reported with the action
    }
    const std::optional<int> services = SequenceOf(tables, L"InstallServices");
    const std::wstring consequence =
        L": the service does not exist when the row is applied, which fails with 0x00000424; sequence " +
        std::wstring(kInstallAction) + L" after InstallServices (5850) and " + kRollbackAction +
        L" just before it (5849)";
    if (!services) {
        Add(findings, Severity::Error, Check::ActionSequence, row.Subject(),
            L"InstallServices is not in InstallExecuteSequence, so " + std::wstring(kInstallAction) +
                L" does not run after it" + consequence);
    } else if (*install <= *services) {
        Add(findings, Severity::Error, Check::ActionSequence, row.Subject(),
            std::wstring(kInstallAction) + L" (" + std::to_wstring(*install) + L") is not after InstallServices (" +
                std::to_wstring(*services) + L")" + consequence);
    }
}

// Whether the installer can parse the lock rows' conditions: each is evaluated in
// a session on the package, opened on first use without any user interface.
// Property values decide only the outcome, never whether a condition parses.
class ConditionParser {
public:
    explicit ConditionParser(MSIHANDLE database) : m_database(database) { }
    ConditionParser(const ConditionParser&) = delete;
    ConditionParser& operator=(const ConditionParser&) = delete;

    bool Parses(const std::wstring& condition)
    {
        if (!m_session) {
            const INSTALLUILEVEL previous = ::MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
            const std::wstring package = L"#" + std::to_wstring(m_database);
            const UINT result =
                ::MsiOpenPackageExW(package.c_str(), MSIOPENPACKAGEFLAGS_IGNOREMACHINESTATE, m_session.put());
            ::MsiSetInternalUI(previous, nullptr);
            CheckMsiResult(result, L"MsiOpenPackageEx");
        }
        return ::MsiEvaluateConditionW(m_session.get(), condition.c_str()) != MSICONDITION_ERROR;
    }

private:
    MSIHANDLE m_database;
    qx::unique_msihandle m_session;
};

// Where a registry row of a component goes, for the library at hand.
void CheckRegistryRoute(const LockRow& row, DWORD tableFlags, bool component64Bit, const std::wstring& component,
                        Library library, std::vector<Finding>& findings)
{
    // The flags as costing makes them, and the apply driver's own decision on them.
    PermissionsItem item;
    item.m_kind = LockObjectKind::Registry;
    item.m_objectType = SE_REGISTRY_KEY;
    item.m_dwFlags = tableFlags | (component64Bit ? LOCKPERM_COMPONENT_64BIT : LOCKPERM_COMPONENT_32BIT);
    const bool throughHelper = AppliesThroughHelper(item);

    if (library == Library::Bits64 && throughHelper) {
        std::wstring why;
        if (!component64Bit) {
            why = L"component " + Quoted(component) +
                  L" has no 64-bit attribute, so the row goes to the 64-bit helper, which the 64-bit library does "
                  L"not carry: the key is not locked, and only the log says so (costing adds 'ignore failure' to "
                  L"such rows); mark the component 64-bit";
        } else if ((tableFlags & LOCKPERM_IGNORE_FAILURE) != 0) {
            why = L"flag 4 sends a registry row to the 64-bit helper, which the 64-bit library does not carry: the "
                  L"key is not locked, and only the log says so";
        } else {
            why = L"flag 2 sends a registry row to the 64-bit helper, which the 64-bit library does not carry: the "
                  L"row fails, error 27555 asks the user, and a silent installation fails with 1603";
        }
        Add(findings, Severity::Warning, Check::RegistryWithoutHelper, row.Subject(), why);
    } else if (library == Library::Bits32 && !throughHelper && component64Bit) {
        Add(findings, Severity::Warning, Check::RegistryView, row.Subject(),
            L"the 32-bit library locks registry rows of 64-bit components itself, in the 32-bit registry view, "
            L"while the installer writes the keys of component " +
                Quoted(component) + L" in the 64-bit view: use the 64-bit library in a 64-bit package");
    }
}

void CheckRow(const PackageTables& tables, Library library, ConditionParser& conditions, const LockRow& row,
              std::vector<Finding>& findings)
{
    const std::wstring subject = row.Subject();
    const DWORD flags = row.flags ? static_cast<DWORD>(*row.flags) : 0;
    const LockObjectKind kind = LockObjectKindFromTable(row.table.c_str(), row.table.length());

    if (kind == LockObjectKind::Unknown) {
        Add(findings, Severity::Error, Check::UnknownTable, subject,
            L"Table " + Quoted(row.table) +
                L" is not File, CreateFolder, Registry or ServiceInstall: costing stops ('unknown table') and the "
                L"installation fails");
    } else if (std::optional<std::wstring> component = ResolveObject(tables, row, kind, findings)) {
        auto attributes = tables.componentAttributes.find(*component);
        if (attributes == tables.componentAttributes.end()) {
            Add(findings, Severity::Error, Check::MissingComponent, subject,
                L"component " + Quoted(*component) +
                    L" is not in the Component table: costing stops ('Failed to obtain state of component') and "
                    L"the installation fails");
        } else if (kind == LockObjectKind::Registry) {
            CheckRegistryRoute(row, flags, (attributes->second & msidbComponentAttributes64bit) != 0, *component,
                               library, findings);
        }
        if (kind == LockObjectKind::Service) {
            CheckServiceOrder(tables, row, findings);
        }
    }
    if (!row.condition.empty() && !conditions.Parses(row.condition)) {
        Add(findings, Severity::Error, Check::Condition, subject,
            L"the installer cannot parse the Condition " + Quoted(row.condition) +
                L": costing stops ('cannot be evaluated') and the installation fails");
    }

    const wchar_t* accountRemedy = L"no account name holds it: correct the column";
    CheckSeparators(findings, subject, L"Domain", row.domain, accountRemedy);
    CheckSeparators(findings, subject, L"User", row.user, accountRemedy);
    if (row.user.empty()) {
        Add(findings, Severity::Error, Check::EmptyUser, subject,
            L"User is empty: the row names no account, and it fails when the installation applies it");
    }
    if ((flags & ~kTableFlags) != 0) {
        Add(findings, Severity::Error, Check::UnknownFlags, subject,
            L"Flags " + std::to_wstring(*row.flags) + L" (" + Hex(flags) +
                L") has bits other than 1, 2 and 4: costing adds 8 or 0x16 itself, and other bits change where and "
                L"how the row is applied; write a sum of 1, 2 and 4");
    }
    if (kind == LockObjectKind::File && (flags & LOCKPERM_NO_PROPAGATE) != 0) {
        Add(findings, Severity::Warning, Check::NoPropagateOnFile, subject,
            L"flag 2 changes nothing on a file: nothing inherits a file's entries");
    }
    // An empty mask reads as the installer's null integer, 0x80000000: GENERIC_READ.
    const DWORD mask = row.permission ? static_cast<DWORD>(*row.permission) : 0x80000000u;
    if ((mask & kGenericRights) != 0) {
        Add(findings, Severity::Warning, Check::GenericRights, subject,
            L"Permission " + Hex(mask) +
                L" holds generic rights (0x10000000 and above), which the library hands to Windows unmapped, so "
                L"what the entry grants depends on how Windows maps them for the object; write the object's "
                L"specific rights (the guide's table of masks)");
    }
}

void CheckLockTable(MSIHANDLE database, const PackageTables& tables, Library library, std::vector<Finding>& findings)
{
    if (!HasTable(database, g_szLockTable)) {
        return; // the cost action skips a package without the table
    }
    qx::unique_msihandle view;
    OpenExecute(&view, database, g_strQueryLockTable.c_str());
    const std::wstring problem = LockTableColumnsProblem(view.get());
    if (!problem.empty()) {
        Add(findings, Severity::Error, Check::LockTableColumns, g_szLockTable, problem);
        return; // its rows cannot be read as the library would read them
    }
    const bool hasConditions = HasConditionColumn(view.get());
    ConditionParser conditions(database);
    ForEachRecord(view.get(), [&](MSIHANDLE record) {
        LockRow row{GetRecordString(record, 1),
                    GetRecordString(record, 2),
                    GetRecordString(record, 3),
                    GetRecordString(record, 4),
                    IntegerField(record, 5),
                    IntegerField(record, 6),
                    hasConditions ? GetRecordString(record, kLockConditionField) : std::wstring()};
        CheckRow(tables, library, conditions, row, findings);
    });
}

// Checks the Binary row of an action that loads a DLL from it, and says which
// library it carries.
Library CheckBinary(MSIHANDLE database, const PackageTables& tables, const std::wstring& action,
                    const CustomActionRow& row, std::vector<Finding>& findings)
{
    if (!tables.binaries.count(row.source)) {
        Add(findings, Severity::Error, Check::LibraryBinary, action,
            L"the Binary table has no row " + Quoted(row.source) +
                L": the installer cannot load the library and the installation fails");
        return Library::Unknown;
    }
    switch (BinaryMachine(database, row.source)) {
    case IMAGE_FILE_MACHINE_AMD64:
        return Library::Bits64;
    case IMAGE_FILE_MACHINE_I386:
        return Library::Bits32;
    default:
        Add(findings, Severity::Error, Check::LibraryBinary, action,
            L"the Binary row " + Quoted(row.source) +
                L" holds no 32-bit or 64-bit Windows DLL: the installer cannot call the library and the "
                L"installation fails");
        return Library::Unknown;
    }
}

void CheckCostAction(const PackageTables& tables, const std::wstring& name, const CustomActionRow& row,
                     std::vector<Finding>& findings)
{
    const std::wstring type = L"type " + std::to_wstring(row.type);
    if ((row.type & kTypeCodeAndSource) != kTypeDllInBinary) {
        Add(findings, Severity::Error, Check::ActionType, name,
            type + L" is not a DLL stored in the Binary table (type 1, plus option bits): the cost action cannot "
                   L"run");
    }
    if ((row.type & msidbCustomActionTypeInScript) != 0) {
        Add(findings, Severity::Error, Check::ActionType, name,
            type + L" is deferred (bit 1024): the cost action must run immediately, while it can read the "
                   L"package's tables and set the property the install action reads");
    }
    const std::optional<int> sequence = SequenceOf(tables, name);
    if (!sequence) {
        Add(findings, Severity::Error, Check::ActionSequence, name,
            L"the action is not in InstallExecuteSequence: nothing is costed, and nothing is locked");
        return;
    }
    CheckOrder(tables, name, *sequence, Order::After, L"CostFinalize",
               L"target paths are not resolved yet and costing fails", findings);
    CheckOrder(tables, name, *sequence, Order::Before, kInstallAction,
               L"the install action finds no data and locks nothing", findings);
}

void CheckInstallAction(const PackageTables& tables, const CustomActionRow& row, std::vector<Finding>& findings)
{
    const std::wstring type = L"type " + std::to_wstring(row.type);
    if (row.target != kInstallEntry) {
        Add(findings, Severity::Error, Check::ActionType, kInstallAction,
            L"the action calls " + Quoted(row.target) + L", not " + kInstallEntry +
                L": the data the cost action stored is never applied");
    }
    if ((row.type & kTypeCodeAndSource) != kTypeDllInBinary) {
        Add(findings, Severity::Error, Check::ActionType, kInstallAction,
            type + L" is not a DLL stored in the Binary table (type 1, plus option bits): the install action "
                   L"cannot run");
    }
    if ((row.type & (msidbCustomActionTypeInScript | kTypeRollbackOrCommit)) != msidbCustomActionTypeInScript) {
        Add(findings, Severity::Error, Check::ActionType, kInstallAction,
            type + L" is not a deferred action (bit 1024 without 256 and 512): only a deferred action receives the "
                   L"data the cost action stored, and runs when the objects exist");
    }
    if ((row.type & msidbCustomActionTypeNoImpersonate) == 0) {
        Add(findings, Severity::Warning, Check::Impersonation, kInstallAction,
            type + L" impersonates the installing user (no bit 2048): objects whose access list that user may "
                   L"not change fail with 0x00000005; use type 3073");
    }
    const std::optional<int> sequence = SequenceOf(tables, kInstallAction);
    if (!sequence) {
        Add(findings, Severity::Error, Check::ActionSequence, kInstallAction,
            L"the action is not in InstallExecuteSequence: nothing is locked");
        return;
    }
    // Only the actions that make the kinds of object the table names; services are
    // checked with their rows.
    const struct {
        LockObjectKind kind;
        const wchar_t* action;
    } creators[] = {{LockObjectKind::File, L"InstallFiles"},
                    {LockObjectKind::CreateFolder, L"CreateFolders"},
                    {LockObjectKind::Registry, L"WriteRegistryValues"}};
    for (const auto& creator : creators) {
        if (tables.lockKinds.count(creator.kind)) {
            CheckOrder(tables, kInstallAction, *sequence, Order::After, creator.action,
                       L"the objects it locks do not exist yet", findings);
        }
    }
    CheckOrder(tables, kInstallAction, *sequence, Order::Before, L"InstallFinalize",
               L"a deferred action there never runs", findings);
}

// Without the rollback action an installation that fails after the install action
// keeps the entries merged into objects that existed before it.
void CheckRollbackAction(const PackageTables& tables, std::vector<Finding>& findings)
{
    const std::wstring remedy = L"; add the row from CustomAction.idt (type 3329) and sequence it just before " +
                                std::wstring(kInstallAction) + L" (5049, or 5849 in a package that locks services)";
    auto rollback = tables.actions.find(kRollbackAction);
    if (rollback == tables.actions.end()) {
        Add(findings, Severity::Warning, Check::Rollback, L"CustomAction",
            L"no custom action is named " + std::wstring(kRollbackAction) +
                L": an installation that is rolled back keeps the entries the install action merged into objects "
                L"that existed before it" +
                remedy);
        return;
    }
    const CustomActionRow& row = rollback->second;
    if (row.target != kRollbackEntry || (row.type & kTypeCodeAndSource) != kTypeDllInBinary ||
        (row.type & (msidbCustomActionTypeInScript | kTypeRollbackOrCommit)) !=
            (msidbCustomActionTypeInScript | msidbCustomActionTypeRollback)) {
        Add(findings, Severity::Warning, Check::Rollback, kRollbackAction,
            L"type " + std::to_wstring(row.type) + L" calling " + Quoted(row.target) +
                L" is not a rollback "
                L"action (1024 + 256) of the library calling " +
                kRollbackEntry + L": nothing is put back when the installation is rolled back" + remedy);
    }
    const std::optional<int> sequence = SequenceOf(tables, kRollbackAction);
    const std::optional<int> install = SequenceOf(tables, kInstallAction);
    if (!sequence || (install && *sequence >= *install)) {
        Add(findings, Severity::Warning, Check::Rollback, kRollbackAction,
            (sequence ? L"sequence " + std::to_wstring(*sequence) + L" is not before " + kInstallAction
                      : std::wstring(L"the action is not in InstallExecuteSequence")) +
                L": the installer schedules it only once the install action has run, so a rollback of that "
                L"action does not put the access lists back" +
                remedy);
    }
}

// The custom actions, and the library their Binary rows carry.
Library CheckActions(MSIHANDLE database, const PackageTables& tables, std::vector<Finding>& findings)
{
    Library library = Library::Unknown;
    std::map<std::wstring, Library> binaries; // each Binary row is checked once
    auto checkBinary = [&](const std::wstring& action, const CustomActionRow& row) {
        if ((row.type & kTypeCodeAndSource) != kTypeDllInBinary) {
            return Library::Unknown; // the action's type is reported on its own
        }
        auto checked = binaries.find(row.source);
        if (checked == binaries.end()) {
            checked = binaries.emplace(row.source, CheckBinary(database, tables, action, row, findings)).first;
        }
        return checked->second;
    };

    bool costed = false;
    for (const auto& action : tables.actions) {
        if (action.second.target == kCostEntry) {
            costed = true;
            CheckCostAction(tables, action.first, action.second, findings);
            library = checkBinary(action.first, action.second);
        } else if (action.second.target == kRollbackEntry && action.first != kRollbackAction) {
            Add(findings, Severity::Warning, Check::Rollback, action.first,
                L"the action calls " + std::wstring(kRollbackEntry) + L" but is not named " + kRollbackAction +
                    L": it receives no data and puts nothing back");
        } else if (action.second.target == kInstallEntry && action.first != kInstallAction) {
            Add(findings, Severity::Warning, Check::OtherInstallAction, action.first,
                L"the action calls " + std::wstring(kInstallEntry) + L" but is not named " + kInstallAction +
                    L": it receives no data and locks nothing");
        }
    }
    if (!costed) {
        Add(findings, Severity::Error, Check::ActionMissing, L"CustomAction",
            L"no custom action calls " + std::wstring(kCostEntry) + L": nothing is costed, and nothing is locked");
    }
    auto install = tables.actions.find(kInstallAction);
    if (install == tables.actions.end()) {
        Add(findings, Severity::Error, Check::ActionMissing, L"CustomAction",
            L"no custom action is named " + std::wstring(kInstallAction) + L": nothing is locked");
    } else {
        CheckInstallAction(tables, install->second, findings);
        CheckRollbackAction(tables, findings);
        // The install action's library is the one that applies the rows.
        const Library applying = checkBinary(kInstallAction, install->second);
        if (applying != Library::Unknown) {
            library = applying;
        }
    }
    return library;
}

} // namespace

std::vector<Finding> CheckPackage(MSIHANDLE database)
{
    const PackageTables tables = ReadTables(database);
    const bool usesLibrary =
        HasTable(database, g_szLockTable) || std::any_of(tables.actions.begin(), tables.actions.end(), [](auto& a) {
            const std::wstring& target = a.second.target;
            return target == kCostEntry || target == kInstallEntry || target == kRollbackEntry;
        });
    if (!usesLibrary) {
        return {}; // a package of someone else's, or one before the library was added
    }
    std::vector<Finding> actionFindings;
    const Library library = CheckActions(database, tables, actionFindings);

    std::vector<Finding> findings;
    CheckLockTable(database, tables, library, findings);
    findings.insert(findings.end(), actionFindings.begin(), actionFindings.end());
    if (!tables.hasApplyErrorMessage) {
        Add(findings, Severity::Warning, Check::ErrorMessage, L"Error",
            L"the Error table has no message 27555: an object that cannot be locked is put to the user with the "
            L"installer's text for an unknown error instead of one that names the object; add the row from "
            L"Error.idt");
    }
    return findings;
}

std::wstring SeverityAndCode(const Finding& finding)
{
    wchar_t code[16] = {};
    std::swprintf(code, 16, L"QXC%03u", static_cast<unsigned>(finding.check));
    return (finding.severity == Severity::Error ? L"error " : L"warning ") + std::wstring(code);
}

} // namespace qxcheck
