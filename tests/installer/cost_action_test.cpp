// Costing on real packages: what each row becomes in the text, and how a broken row
// ends the pass (the end-to-end tests hold the whole log of the sample's costing).
#include <algorithm>
#include <iterator>
#include <map>

#include "InstallerFixture.h"
#include "RecordingLog.h"
#include "SecurityTestSupport.h"
#include "cost/ComponentFilter.h"
#include "cost/CustomActionData.h"
#include "cost/LockObjectResolution.h"
#include "msi/LockTableReader.h"
#include "msi/Views.h"

using namespace qxtest;

namespace {

const wchar_t kSid[] = L"S-1-5-21-7-8-9-1001";
using Lines = std::vector<std::wstring>;

// Components of each kind, and objects in every table and registry root.
// MainComponent (from the builder) is 64-bit, and so is Comp104 among other attributes.
PackageBuilder CostPackage()
{
    PackageBuilder builder;
    builder.Component(L"Comp32", 0x0)
        .Component(L"Comp104", 0x104)
        .File(L"LongName", L"MainComponent", L"APPLIC~1.EXE|Application.exe")
        .File(L"File32", L"Comp32", L"lib32.dll")
        .File(L"File104", L"Comp104", L"lib104.dll")
        .File(L"GhostFile", L"Ghost", L"ghost.dll")
        // GhostDir is in no Directory row: the installer knows no target path for it.
        .Rows(L"CreateFolder", {{L"INSTALLDIR", L"MainComponent"}, {L"GhostDir", L"MainComponent"}})
        .Registry(L"Root4", 4, L"Software\\Qelmora", L"MainComponent")
        .Service(L"Svc64", L"QXService", L"MainComponent")
        .Property(L"QXVendor", L"Qelmora Labs")
        .Rows(L"QXLockPermissions", {});
    for (int root : {-1, 0, 1, 2, 3}) {
        builder.Registry(L"Root" + std::to_wstring(root), root, L"Software\\Qelmora", L"MainComponent");
    }
    return builder;
}

class CostTest : public InstallerTest {
protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(StartSession(CostPackage())); }

    // A fresh session with fixed paths and user, so that texts can be written out in full.
    void Restart()
    {
        ASSERT_NO_FATAL_FAILURE(RestartSession());
        ASSERT_EQ(0u, ::MsiSetTargetPathW(Session(), L"INSTALLDIR", L"C:\\QXLocked\\"));
        ASSERT_EQ(0u, SetProperty(L"UserSID", kSid));
    }

    // The rows' text; the status that ended the pass in m_status.
    std::wstring Build(std::vector<LockPermissionsRow> rows)
    {
        _stringx<> text;
        m_status = CodeOf(m_sessionLog, [&] { BuildFinalPermissionsItems(Layers(), rows, text); });
        return text.str();
    }
    DWORD m_status = 0;
};

LockPermissionsRow Row(const wchar_t* object, const wchar_t* table, DWORD flags = 0, DWORD permission = 1)
{
    return {object, table, L"", L"Everyone", permission, flags, L""};
}

TEST_F(CostTest, EachRowBecomesItsObjectAndFlags)
{
    const std::wstring machine = L"MACHINE\\Software\\Qelmora|Registry||Everyone|1|8";
    const std::wstring users = L"USERS\\Software\\Qelmora|Registry||Everyone|1|8";
    const std::wstring user = std::wstring(L"USERS\\") + kSid + L"\\Software\\Qelmora|Registry||Everyone|1|8";
    const struct {
        LockPermissionsRow row;
        const wchar_t* property; // set before costing, when given
        const wchar_t* value;
        std::wstring text;
    } rows[] = {// The large model below holds the flags of each kind of component; these are the
                // numbers' signed form, and the registry roots and properties it leaves out.
                {Row(L"File32", L"File", 0x80000001, 0xF0000000), nullptr, nullptr,
                 L"C:\\QXLocked\\lib32.dll|File||Everyone|-268435456|-2147483625"},
                {Row(L"File104", L"File"), nullptr, nullptr, L"C:\\QXLocked\\lib104.dll|File||Everyone|1|8"},
                // Registry roots, and -1 as ALLUSERS decides.
                // Root 0 is the classes key of the hive the installer writes to.
                {Row(L"Root0", L"Registry"), L"ALLUSERS", L"1",
                 L"MACHINE\\Software\\Classes\\Software\\Qelmora|Registry||Everyone|1|8"},
                {Row(L"Root0", L"Registry"), L"ALLUSERS", L"",
                 std::wstring(L"USERS\\") + kSid + L"\\Software\\Classes\\Software\\Qelmora|Registry||Everyone|1|8"},
                {Row(L"Root1", L"Registry"), nullptr, nullptr, user},
                {Row(L"Root1", L"Registry"), L"UserSID", L"", users},
                {Row(L"Root-1", L"Registry"), L"ALLUSERS", L"1", machine},
                {Row(L"Root-1", L"Registry"), L"ALLUSERS", L"2", user}};
    for (const auto& row : rows) {
        ASSERT_NO_FATAL_FAILURE(Restart());
        ASSERT_EQ(0u, row.property ? SetProperty(row.property, row.value) : 0u);
        EXPECT_EQ(row.text, Build({row.row})) << testing::PrintToString(row.row.m_strLockObject.str());
        EXPECT_EQ(0u, m_status);
    }
    // A target path longer than the first buffer.
    const std::wstring folder = L"C:\\" + std::wstring(280, L'd');
    ASSERT_EQ(0u, ::MsiSetTargetPathW(Session(), L"INSTALLDIR", folder.c_str()));
    EXPECT_EQ(folder + L"\\Application.exe|File||Everyone|1|8", Build({Row(L"LongName", L"File")}));
}

TEST_F(CostTest, BrokenRowsStopThePassWithTheirLine)
{
    const std::wstring kept = L"Attempting to determine component state for MainComponent";
    const std::wstring installing = L"Install state of component is 2, action is 3";
    const struct {
        LockPermissionsRow row;
        DWORD status;
        Lines lines;
    } rows[] = {
        {Row(L"NoSuchFile", L"File"),
         ERROR_NO_MORE_ITEMS,
         {L"Failed to query File table for permissions on 'NoSuchFile'"}},
        {Row(L"NoSuchDir", L"CreateFolder"),
         ERROR_NO_MORE_ITEMS,
         {L"Failed to fetch record from CreateFolder query for object 'NoSuchDir'"}},
        {Row(L"NoSuchService", L"ServiceInstall"),
         ERROR_NO_MORE_ITEMS,
         {L"Failed to query ServiceInstall table for object 'NoSuchService'"}},
        // A bare name would be resolved against the install action's current folder.
        {Row(L"GhostDir", L"CreateFolder"),
         ERROR_DIRECTORY,
         {kept, installing, L"Failed to obtain target path for directory 'GhostDir', error 267"}},
        {Row(L"Root4", L"Registry"), ERROR_INVALID_PARAMETER, {kept, installing, L"Unknown registry root type: 4"}},
        // A component the Component table lacks has unknown states.
        {Row(L"GhostFile", L"File"),
         ERROR_UNKNOWN_COMPONENT,
         {L"Failed to obtain component record for component 'Ghost', error 103",
          L"Attempting to determine component state for Ghost",
          L"Failed to obtain state of component 'Ghost', error 0x00000647"}},
        {Row(L"Root2", L"Registr"),
         ERROR_INVALID_PARAMETER,
         {L"QxLockPermissions: unknown table 'Registr' for lock object"}},
        {Row(L"Svc64", L"Service"),
         ERROR_INVALID_PARAMETER,
         {L"QxLockPermissions: unknown table 'Service' for lock object"}}};
    ASSERT_NO_FATAL_FAILURE(Restart());
    for (const auto& row : rows) {
        m_log.Clear();
        EXPECT_EQ(L"", Build({row.row}));
        EXPECT_EQ(row.status, m_status) << testing::PrintToString(row.row.m_strLockObject.str());
        EXPECT_EQ(row.lines, m_log.LibraryMessages());
    }
}

// A user may give a classes key of their own the name of the machine's, and any
// list: costing, which runs as that user, must not save that list for the rollback
// action, which runs as LocalSystem, to write onto the machine's key.
TEST_F(CostTest, ClassesKeysAreNamedByTheHiveTheInstallerWrote)
{
    const wchar_t* classes = L"Software\\Classes\\QXLockTests";
    const wchar_t* machineList = L"D:(A;OICI;KA;;;BA)(A;OICI;KA;;;SY)"; // Wine keeps no protection flag
    const wchar_t* twinList = L"D:(A;OICI;KA;;;WD)";
    TestKey machine(L"Twin", machineList, KeyHive::Machine64, classes);
    TestKey twin(L"Twin", twinList, KeyHive::User, classes);
    PackageBuilder builder = CostPackage();
    builder.Registry(L"Twin", 0, L"QXLockTests\\Twin", L"MainComponent")
        .Rows(L"QXLockPermissions", {{L"Twin", L"Registry", nullptr, L"Users", 1, 0}});
    ASSERT_NO_FATAL_FAILURE(StartSession(builder));
    const std::wstring userKey =
        L"USERS\\" + ::GetProperty(Session(), L"UserSID").str() + L"\\Software\\Classes\\QXLockTests\\Twin";
    for (const auto& [allUsers, object, list] :
         {std::make_tuple(L"1", std::wstring(L"MACHINE\\Software\\Classes\\QXLockTests\\Twin"), machineList),
          std::make_tuple(L"", userKey, twinList)}) {
        ASSERT_EQ(0u, SetProperty(L"ALLUSERS", allUsers));
        ASSERT_EQ(0u, RunExport("QXLockPermissionsCostAction"));
        EXPECT_EQ(object + L"|Registry||Users|1|8", ::GetProperty(Session(), kInstallDataProperty).str());
        EXPECT_EQ(object + L"|4|0||" + list, ::GetProperty(Session(), kRollbackDataProperty).str());
    }
}

// The object's key, the table word and the condition (the installer evaluates it
// itself) are taken as written; the account columns go through its formatting.
TEST_F(CostTest, OnlyTheAccountColumnsAreFormatted)
{
    PackageBuilder builder;
    builder.Property(L"QXDomain", L"CORP")
        .Property(L"QXUser", L"alice")
        .Rows(L"QXLockPermissions", {{L"[QXUser]", L"[QXDomain]", L"[QXDomain]\\x", L"[QXUser]", 1, 0, L"[QXUser]"}});
    ASSERT_NO_FATAL_FAILURE(StartSession(builder));
    std::vector<LockPermissionsRow> rows;
    GetAllPermissionsItems(Layers(), rows);
    ASSERT_EQ(1u, rows.size());
    EXPECT_EQ(L"[QXUser]", rows[0].m_strLockObject.str());
    EXPECT_EQ(L"[QXDomain]", rows[0].m_strTable.str());
    EXPECT_EQ(L"CORP\\x", rows[0].m_strDomain.str());
    EXPECT_EQ(L"alice", rows[0].m_strUser.str());
    EXPECT_EQ(L"[QXUser]", rows[0].m_strCondition.str());
}

// The cost action on lock tables with conditions: an empty one holds, a false one
// skips its row with a line naming it (the account formatted), one
// the installer cannot parse stops costing (the action fails, storing nothing); a table without the column, or with a
// seventh column of another name ("0" would be false as a condition), reads as before.
TEST_F(CostTest, RowsApplyWhereTheirConditionHolds)
{
    const std::wstring folder = L"C:\\QXLocked\\|CreateFolder||Everyone|1|8";
    const struct {
        const wchar_t* seventh; // the seventh column's name; null: six columns
        std::vector<qxtest::Row> rows;
        UINT result;
        std::wstring text;
        Lines lines; // of conditions and the pass's end
    } cases[] = {
        {L"Condition",
         {{L"INSTALLDIR", L"CreateFolder", nullptr, L"Everyone", 1, 0, nullptr},
          {L"File32", L"File", nullptr, L"Everyone", 1, 0, L"QXVendor = \"Qelmora Labs\" AND NOT Installed"},
          {L"Root2", L"Registry", L"CORP", L"[QXVendor]", 1, 0, L"QXUnset OR QXVendor < \"A\""}},
         0,
         folder + L"*C:\\QXLocked\\lib32.dll|File||Everyone|1|22",
         {L"Condition 'QXUnset OR QXVendor < \"A\"' of lock row 'Root2' (table Registry, account "
          L"'CORP\\Qelmora Labs') is false, skipping the row"}},
        {L"Condition",
         {{L"INSTALLDIR", L"CreateFolder", nullptr, L"Everyone", 1, 0, L"QXVendor = "}},
         ERROR_INSTALL_FAILURE,
         L"sentinel",
         {L"Condition 'QXVendor = ' of lock row 'INSTALLDIR' (table CreateFolder, account 'Everyone') cannot be "
          L"evaluated",
          L"RunCost: BuildFinalPermissionsItems returned status 643\n"}},
        {L"Note", {{L"INSTALLDIR", L"CreateFolder", nullptr, L"Everyone", 1, 0, L"0"}}, 0, folder, {}},
        {nullptr, {{L"INSTALLDIR", L"CreateFolder", nullptr, L"Everyone", 1, 0}}, 0, folder, {}}};
    for (const auto& each : cases) {
        SCOPED_TRACE(each.seventh ? each.seventh : L"six columns");
        const std::wstring seventh = each.seventh ? L"\t" + std::wstring(each.seventh) : L"";
        PackageBuilder builder = CostPackage();
        builder
            .Columns(L"QXLockPermissions", L"LockObject\tTable\tDomain\tUser\tPermission\tFlags" + seventh,
                     L"s72\ts32\tS255\ts255\ti4\tI4" + std::wstring(seventh.empty() ? L"" : L"\tS255"),
                     L"LockObject\tTable\tDomain\tUser")
            .Rows(L"QXLockPermissions", each.rows);
        ASSERT_NO_FATAL_FAILURE(StartSession(builder));
        ASSERT_NO_FATAL_FAILURE(Restart());
        ASSERT_EQ(0u, SetProperty(L"QXLockPermissionsInstall", L"sentinel"));
        m_log.Clear();
        EXPECT_EQ(each.result, RunExport("QXLockPermissionsCostAction"));
        EXPECT_EQ(each.text, ::GetProperty(Session(), L"QXLockPermissionsInstall").str());
        Lines lines;
        std::copy_if(m_log.LibraryMessages().begin(), m_log.LibraryMessages().end(), std::back_inserter(lines),
                     [](const std::wstring& line) {
                         return line.rfind(L"Condition", 0) == 0 || line.rfind(L"RunCost", 0) == 0;
                     });
        EXPECT_EQ(each.lines, lines);
    }
}

// A lock table that is only temporary counts: the action runs.
TEST_F(CostTest, TemporaryLockTableCounts)
{
    ASSERT_NO_FATAL_FAILURE(StartSession(PackageBuilder()));
    qx::unique_msihandle view;
    ASSERT_EQ(0u, ::MsiDatabaseOpenViewW(Layers().hDatabase,
                                         L"CREATE TABLE `QXLockPermissions` (`LockObject` CHAR(72) NOT NULL "
                                         L"TEMPORARY PRIMARY KEY `LockObject`) HOLD",
                                         view.put()));
    ASSERT_EQ(0u, ::MsiViewExecute(view.get(), 0));
    ASSERT_EQ(0u, SetProperty(L"QXLockPermissionsInstall", L"sentinel"));
    m_log.Clear();
    EXPECT_EQ(0u, RunExport("QXLockPermissionsCostAction"));
    EXPECT_TRUE(m_log.LibraryMessages().empty());
    EXPECT_TRUE(::GetProperty(Session(), L"QXLockPermissionsInstall").empty());
}

// A large package of every kind, resolved by costing and by a plain per-row model
// (the installer asked for each row's states, folder and first CreateFolder row):
// the same text, log and written items; a key the table lacks still ends the pass.
TEST_F(CostTest, LargePackageMatchesThePerRowModel)
{
    PackageBuilder builder = CostPackage();
    std::vector<LockPermissionsRow> rows;
    std::map<std::wstring, std::wstring> components, names; // by object key
    auto lock = [&](const std::wstring& key, const wchar_t* table, int i, const std::wstring& component) {
        components[key] = component;
        LockPermissionsRow row = Row(key.c_str(), table, i % 4, 1 + i % 3);
        row.m_strCondition = i % 7 == 3 ? L"QXVendor = \"nobody\"" : (i % 5 == 1 ? L"QXVendor" : L"");
        rows.push_back(row);
        if (i % 3 == 0) { // a second account on the same object
            row.m_strUser = L"Users";
            rows.push_back(row);
        }
    };
    auto n = [](const wchar_t* prefix, int i) { return prefix + std::to_wstring(i); };
    for (int i = 0; i < 24; ++i) { // in folders D0 to D7; every eighth in no feature
        builder.Rows(L"Directory", {{n(L"D", i), L"INSTALLDIR", n(L"dir", i)}})
            .Component(n(L"C", i), i % 3 ? 0 : 0x100, i % 8 == 7 ? nullptr : L"MainFeature", n(L"D", i % 8));
    }
    for (int i = 0; i < 200; ++i) {
        names[n(L"F", i)] = n(L"long file ", i) + L".dat";
        builder.File(n(L"F", i), n(L"C", i % 24),
                     i % 2 ? n(L"F", i) + L".DAT|" + names[n(L"F", i)] : names[n(L"F", i)]);
        lock(n(L"F", i), i % 2 ? L"File" : L"file", i, n(L"C", i % 24));
    }
    for (int i = 0; i < 8; ++i) { // two rows a folder: the first counts
        builder.Rows(L"CreateFolder", {{n(L"D", i), n(L"C", i + 8)}, {n(L"D", i), n(L"C", i)}});
        lock(n(L"D", i), L"CreateFolder", i, L"");
    }
    for (int i = 0; i < 60; ++i) {
        builder.Registry(n(L"R", i), i % 2 ? 2 : 3, n(L"Software\\QX\\", i) + (i % 5 ? L"" : L"\\[QXVendor]"),
                         n(L"C", i % 24));
        names[n(L"R", i)] =
            (i % 2 ? L"MACHINE" : L"USERS") + n(L"\\Software\\QX\\", i) + (i % 5 ? L"" : L"\\Qelmora Labs");
        lock(n(L"R", i), L"Registry", i, n(L"C", i % 24));
    }
    for (int i = 0; i < 10; ++i) {
        builder.Service(n(L"S", i), n(i % 2 ? L"[QXVendor] " : L"Svc ", i), n(L"C", i));
        names[n(L"S", i)] = n(i % 2 ? L"Qelmora Labs " : L"Svc ", i);
        lock(n(L"S", i), L"ServiceInstall", i, n(L"C", i));
    }
    ASSERT_NO_FATAL_FAILURE(StartSession(builder));
    ASSERT_NO_FATAL_FAILURE(Restart());
    rows.push_back(Row(L"NoSuchKey", L"Registry"));

    Lines lines, written;
    _stringx<> text;
    for (LockPermissionsRow row : rows) {
        const std::wstring key = row.m_strLockObject.str();
        std::wstring component = components[key];
        if (key[0] == L'D') { // the folder's first CreateFolder row, as a keyed query gives it
            qx::unique_msihandle view, parameter(::MsiCreateRecord(1)), record;
            ::MsiRecordSetStringW(parameter.get(), 1, key.c_str());
            ASSERT_EQ(0u, ::MsiDatabaseOpenViewW(Layers().hDatabase,
                                                 L"SELECT `Component_` FROM `CreateFolder` WHERE `Directory_` = ?",
                                                 view.put()));
            ASSERT_EQ(0u, ::MsiViewExecute(view.get(), parameter.get()));
            ASSERT_EQ(0u, ::MsiViewFetch(view.get(), record.put()));
            component = ::GetRecordString(record.get(), 1);
        }
        if (row.m_strCondition.equals(L"QXVendor = \"nobody\"")) {
            lines.push_back(L"Condition 'QXVendor = \"nobody\"' of lock row '" + key + L"' (table " +
                            row.m_strTable.str() + L", account '" + row.m_strUser.str() +
                            L"') is false, skipping the row");
            continue;
        }
        if (key == L"NoSuchKey") {
            lines.push_back(L"Failed to query Registry table for object 'NoSuchKey'");
            break;
        }
        row.m_dwFlags |= std::stoi(component.substr(1)) % 3 ? 0x16 : 8;
        INSTALLSTATE installed, action;
        ASSERT_EQ(0u, ::MsiGetComponentStateW(Session(), component.c_str(), &installed, &action));
        lines.push_back(L"Attempting to determine component state for " + component);
        lines.push_back(FormatText(L"Install state of component is %x, action is %x", installed, action).str());
        if (!ComponentStatesKeepRow(installed, action)) {
            continue;
        }
        std::wstring name = names[key];
        const bool folder = key[0] == L'D';
        if (folder || key[0] == L'F') {
            wchar_t path[MAX_PATH];
            DWORD size = MAX_PATH;
            const std::wstring directory = folder ? key : n(L"D", std::stoi(component.substr(1)) % 8);
            ASSERT_EQ(0u, ::MsiGetTargetPathW(Session(), directory.c_str(), path, &size));
            lines.push_back(folder ? L"Got target path " + std::wstring(path) + L" for directory " + key
                                   : L"Got target for file: " + name);
            name = path + name;
        }
        AddItemToCustomActionData(text, name, row.m_strTable, row.m_strDomain, row.m_strUser, row.m_dwPermission,
                                  row.m_dwFlags);
        written.push_back(name);
    }

    _stringx<> built;
    Lines builtWritten;
    m_log.Clear();
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, CodeOf(m_sessionLog, [&] {
                  BuildFinalPermissionsItems(Layers(), rows, built, [&](const PermissionsItem& item) {
                      builtWritten.push_back(item.m_strObjectName.str());
                  });
              }));
    EXPECT_EQ(text.str(), built.str());
    EXPECT_EQ(lines, m_log.LibraryMessages());
    EXPECT_EQ(written, builtWritten);
    EXPECT_GT(written.size(), 200u);
}

} // namespace
