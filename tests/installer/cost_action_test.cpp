// The cost action on real packages: what it writes into QXLockPermissionsInstall,
// what it logs, and how a broken row ends the pass.
#include <functional>
#include <optional>

#include "InstallerFixture.h"
#include "cost/CustomActionData.h"
#include "cost/LockObjectResolution.h"
#include "msi/Properties.h"

using namespace qxtest;

namespace {

const wchar_t kDataProperty[] = L"QXLockPermissionsInstall";
const wchar_t kSentinel[] = L"sentinel";
const wchar_t kSid[] = L"S-1-5-21-7-8-9-1001";
const std::wstring kLongDirectory = L"C:\\" + std::wstring(280, L'd');

using Lines = std::vector<std::wstring>;

Lines Join(std::initializer_list<Lines> parts)
{
    Lines joined;
    for (const Lines& part : parts) {
        joined.insert(joined.end(), part.begin(), part.end());
    }
    return joined;
}

Lines States(const std::wstring& component, const std::wstring& installed, const std::wstring& action)
{
    return {L"Attempting to determine component state for " + component,
            L"Install state of component is " + installed + L", action is " + action};
}

// A component of a fresh package that costing installs locally.
Lines Kept(const std::wstring& component)
{
    return States(component, L"2", L"3");
}
Lines KeptFile(const std::wstring& component, const std::wstring& file)
{
    return Join({Kept(component), {L"Got target for file: " + file}});
}

// RunCost's line for a status that ended the pass, printed in hexadecimal.
Lines Stopped(const wchar_t* status)
{
    return {std::wstring(L"RunCost: BuildFinalPermissionsItems returned status ") + status + L"\n"};
}

// Components of each bitness, and objects in every table and registry root.
// MainComponent (from the builder) is 64-bit.
PackageBuilder CostPackage()
{
    PackageBuilder builder;
    builder.Rows(L"QXLockPermissions", {})
        .Rows(L"Directory", {{L"DATADIR", L"INSTALLDIR", L"Data"}})
        .Component(L"Comp32", 0x0)
        .Component(L"Comp4", 0x4)
        .Component(L"Comp104", 0x104)
        .Component(L"Unfeatured", 0x0, nullptr)
        .Rows(L"Component", {{L"NoCode", nullptr, L"INSTALLDIR", 0}})
        .Rows(L"FeatureComponents", {{L"MainFeature", L"NoCode"}})
        .File(L"LongName", L"MainComponent", L"APPLIC~1.EXE|Application.exe")
        .File(L"ShortName", L"MainComponent", L"app.exe")
        .File(L"File32", L"Comp32", L"lib32.dll")
        .File(L"File4", L"Comp4", L"lib4.dll")
        .File(L"File104", L"Comp104", L"lib104.dll")
        .File(L"UnfeaturedFile", L"Unfeatured", L"spare.dll")
        .File(L"NoCodeFile", L"NoCode", L"nocode.dll")
        .File(L"GhostFile", L"Ghost", L"ghost.dll")
        // GhostDir is in no Directory row: the installer knows no target path for it.
        .Rows(L"CreateFolder",
              {{L"INSTALLDIR", L"MainComponent"}, {L"DATADIR", L"Comp32"}, {L"GhostDir", L"MainComponent"}})
        .Registry(L"Root4", 4, L"Software\\Qelmora", L"MainComponent")
        .Registry(L"LeadingBackslash", 2, L"\\Software\\Qelmora", L"MainComponent")
        .Registry(L"EmptyKey", 2, nullptr, L"MainComponent")
        .Registry(L"EmptyUserKey", 1, nullptr, L"MainComponent")
        .Registry(L"Formatted", 2, L"Software\\[QXVendor]\\Settings", L"MainComponent")
        .Registry(L"Reg32", 2, L"Software\\Qelmora\\32", L"Comp32")
        .Property(L"QXVendor", L"Qelmora Labs");
    for (int root : {-1, 0, 1, 2, 3}) {
        builder.Registry(L"Root" + std::to_wstring(root), root, L"Software\\Qelmora", L"MainComponent");
    }
    return builder;
}

// Something a case changes in the session after costing, before the action runs.
using Setting = std::function<UINT(MSIHANDLE)>;

Setting Property(const wchar_t* name, std::wstring value)
{
    return [=](MSIHANDLE session) { return ::MsiSetPropertyW(session, name, value.c_str()); };
}
Setting Target(std::wstring path)
{
    return [=](MSIHANDLE session) { return ::MsiSetTargetPathW(session, L"INSTALLDIR", path.c_str()); };
}
Setting State(const wchar_t* component, INSTALLSTATE state)
{
    return [=](MSIHANDLE session) { return ::MsiSetComponentStateW(session, component, state); };
}

// Fixed paths and user, so that texts can be written out in full.
const std::vector<Setting> kBaseSettings = {Target(L"C:\\QXLocked\\"), Property(L"UserSID", kSid)};

struct CostCase {
    const char* name;
    Row lock; // empty: no row
    std::vector<Setting> settings;
    UINT result;
    std::optional<std::wstring> text; // none: the property keeps what it held
    Lines messages;
};

void PrintTo(const CostCase& c, std::ostream* os)
{
    *os << c.name;
}

Row Lock(const wchar_t* object, const wchar_t* table, Cell flags = 0, int permission = 1)
{
    return {object, table, nullptr, L"Everyone", permission, std::move(flags)};
}

CostCase Wrote(const char* name, Row lock, std::vector<Setting> settings, std::wstring text, Lines messages)
{
    return {name, std::move(lock), std::move(settings), 0, std::move(text), std::move(messages)};
}

CostCase Failed(const char* name, Row lock, Lines messages)
{
    return {name, std::move(lock), {}, 1603, std::nullopt, std::move(messages)};
}

class CostActionTestBase : public InstallerTest {
protected:
    void StartCostSession(const PackageBuilder& builder, const std::vector<Setting>& settings)
    {
        ASSERT_NO_FATAL_FAILURE(StartSession(builder));
        for (const std::vector<Setting>* list : {&kBaseSettings, &settings}) {
            for (const Setting& setting : *list) {
                ASSERT_EQ(0u, setting(Session()));
            }
        }
        ASSERT_EQ(0u, SetProperty(kDataProperty, kSentinel));
    }
};

class CostActionTest : public CostActionTestBase, public ::testing::WithParamInterface<CostCase> { };

TEST_P(CostActionTest, WritesKeptRowsOrStops)
{
    const CostCase& c = GetParam();
    PackageBuilder builder = CostPackage();
    if (!c.lock.empty()) {
        builder.Rows(L"QXLockPermissions", {c.lock});
    }
    ASSERT_NO_FATAL_FAILURE(StartCostSession(builder, c.settings));

    EXPECT_EQ(c.result, RunExport("QXLockPermissionsCostAction"));
    EXPECT_EQ(c.text.value_or(kSentinel), GetProperty(kDataProperty));
    EXPECT_EQ(c.messages, m_log.LibraryMessages());
}

std::string CaseName(const ::testing::TestParamInfo<CostCase>& info)
{
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(
    Objects, CostActionTest,
    ::testing::Values(
        Wrote("LongName", Lock(L"LongName", L"File", 0, 0x1F01FF), {},
              L"C:\\QXLocked\\Application.exe|File||Everyone|2032127|8",
              KeptFile(L"MainComponent", L"Application.exe")),
        // Only the account columns are formatted.
        Wrote("ShortNameLowerCaseWordFormattedUser", {L"ShortName", L"file", L"CORP", L"[QXVendor]", 0x10000000, 0}, {},
              L"C:\\QXLocked\\app.exe|file|CORP|Qelmora Labs|268435456|8", KeptFile(L"MainComponent", L"app.exe")),
        Wrote("TargetLongerThanMaxPath", Lock(L"LongName", L"File"), {Target(kLongDirectory)},
              kLongDirectory + L"\\Application.exe|File||Everyone|1|8", KeptFile(L"MainComponent", L"Application.exe")),
        Wrote("Folder", Lock(L"INSTALLDIR", L"CreateFolder", 0, 0x1F01FF), {},
              L"C:\\QXLocked\\|CreateFolder||Everyone|2032127|8",
              Join({Kept(L"MainComponent"), {L"Got target path C:\\QXLocked\\ for directory INSTALLDIR"}})),
        Wrote("FolderOf32BitComponent", Lock(L"DATADIR", L"CreateFolder", 4, 0x120089), {},
              L"C:\\QXLocked\\Data\\|CreateFolder||Everyone|1179785|22",
              Join({Kept(L"Comp32"), {L"Got target path C:\\QXLocked\\Data\\ for directory DATADIR"}}))),
    CaseName);

// Exactly one of 0x08 (64-bit attribute 0x100) and 0x16 is ORed into the table's flags.
INSTANTIATE_TEST_SUITE_P(
    ComponentFlags, CostActionTest,
    ::testing::Values(Wrote("Attributes0x0", Lock(L"File32", L"File"), {},
                            L"C:\\QXLocked\\lib32.dll|File||Everyone|1|22", KeptFile(L"Comp32", L"lib32.dll")),
                      Wrote("Attributes0x4", Lock(L"File4", L"File"), {}, L"C:\\QXLocked\\lib4.dll|File||Everyone|1|22",
                            KeptFile(L"Comp4", L"lib4.dll")),
                      Wrote("Attributes0x104", Lock(L"File104", L"File"), {},
                            L"C:\\QXLocked\\lib104.dll|File||Everyone|1|8", KeptFile(L"Comp104", L"lib104.dll")),
                      Wrote("DenyOn32Bit", Lock(L"File32", L"File", 1), {},
                            L"C:\\QXLocked\\lib32.dll|File||Everyone|1|23", KeptFile(L"Comp32", L"lib32.dll")),
                      Wrote("TableFlagsOn64Bit", Lock(L"LongName", L"File", 7), {},
                            L"C:\\QXLocked\\Application.exe|File||Everyone|1|15",
                            KeptFile(L"MainComponent", L"Application.exe")),
                      Wrote("NullFlagsAndTopBits", Lock(L"File32", L"File", nullptr, static_cast<int>(0xF0000000)), {},
                            L"C:\\QXLocked\\lib32.dll|File||Everyone|-268435456|-2147483626",
                            KeptFile(L"Comp32", L"lib32.dll"))),
    CaseName);

CostCase RegistryCase(const char* name, const wchar_t* key, std::vector<Setting> settings, std::wstring object,
                      Lines rollback = {})
{
    return Wrote(name, Lock(key, L"Registry", 0, 0x20019), std::move(settings),
                 object + L"|Registry||Everyone|131097|8", Join({Kept(L"MainComponent"), rollback}));
}

// What capturing the access lists for a rollback says of an object it cannot read.
Lines NoRollback(const std::wstring& object, const wchar_t* error)
{
    return {L"No rollback for '" + object + L"': its access list cannot be read, error " + error};
}

const std::wstring kUserKey = std::wstring(L"USERS\\") + kSid + L"\\Software\\Qelmora";

INSTANTIATE_TEST_SUITE_P(
    RegistryRoots, CostActionTest,
    ::testing::Values(
        RegistryCase("Root0", L"Root0", {}, L"CLASSES_ROOT\\Software\\Qelmora"),
        RegistryCase("Root1", L"Root1", {}, kUserKey),
        RegistryCase("Root1WithoutSid", L"Root1", {Property(L"UserSID", L"")}, L"USERS\\Software\\Qelmora"),
        RegistryCase("Root2", L"Root2", {}, L"MACHINE\\Software\\Qelmora"),
        RegistryCase("Root3", L"Root3", {}, L"USERS\\Software\\Qelmora"),
        RegistryCase("AllUsers1", L"Root-1", {Property(L"ALLUSERS", L"1")}, L"MACHINE\\Software\\Qelmora"),
        RegistryCase("AllUsers2", L"Root-1", {Property(L"ALLUSERS", L"2")}, kUserKey),
        RegistryCase("AllUsersEmpty", L"Root-1", {Property(L"ALLUSERS", L"")}, kUserKey),
        RegistryCase("AllUsersEmptyWithoutSid", L"Root-1", {Property(L"ALLUSERS", L""), Property(L"UserSID", L"")},
                     L"USERS\\Software\\Qelmora"),
        RegistryCase("LeadingBackslash", L"LeadingBackslash", {}, L"MACHINE\\Software\\Qelmora"),
        // Wine cannot read a root key by its name (87).
        RegistryCase("EmptyKey", L"EmptyKey", {}, L"MACHINE", NoRollback(L"MACHINE", L"0x00000057")),
        RegistryCase("EmptyKeyWithoutSid", L"EmptyUserKey", {Property(L"UserSID", L"")}, L"USERS",
                     NoRollback(L"USERS", L"0x00000057")),
        RegistryCase("FormattedKey", L"Formatted", {}, L"MACHINE\\Software\\Qelmora Labs\\Settings"),
        // Wine reads a key of the 32-bit view as an empty descriptor, even one that is not there.
        Wrote("RegistryOf32BitComponent", Lock(L"Reg32", L"Registry"), {},
              L"MACHINE\\Software\\Qelmora\\32|Registry||Everyone|1|22",
              Join({Kept(L"Comp32"), NoRollback(L"MACHINE\\Software\\Qelmora\\32", L"0x0000053a")}))),
    CaseName);

CostCase DroppedCase(const char* name, const wchar_t* file, const wchar_t* component, std::vector<Setting> settings,
                     const wchar_t* action)
{
    return Wrote(name, Lock(file, L"File"), std::move(settings), L"", States(component, L"2", action));
}

// Installed states a fresh package can show are 2 (absent) and -1 (no component code).
INSTANTIATE_TEST_SUITE_P(
    ComponentStates, CostActionTest,
    ::testing::Values(
        DroppedCase("Source", L"File32", L"Comp32", {State(L"Comp32", INSTALLSTATE_SOURCE)}, L"4"),
        DroppedCase("Default", L"File32", L"Comp32", {State(L"Comp32", INSTALLSTATE_DEFAULT)}, L"5"),
        DroppedCase("Absent", L"File32", L"Comp32", {State(L"Comp32", INSTALLSTATE_ABSENT)}, L"2"),
        DroppedCase("Advertised", L"File32", L"Comp32", {State(L"Comp32", INSTALLSTATE_ADVERTISED)}, L"1"),
        DroppedCase("NoAction", L"File32", L"Comp32", {State(L"Comp32", INSTALLSTATE_UNKNOWN)}, L"ffffffff"),
        DroppedCase("InNoFeature", L"UnfeaturedFile", L"Unfeatured", {}, L"ffffffff"),
        Wrote("UnknownInstalledStateInstallingLocally", Lock(L"NoCodeFile", L"File"), {},
              L"C:\\QXLocked\\nocode.dll|File||Everyone|1|22",
              Join({States(L"NoCode", L"ffffffff", L"3"), {L"Got target for file: nocode.dll"}})),
        Wrote("SetToLocal", Lock(L"UnfeaturedFile", L"File"), {State(L"Unfeatured", INSTALLSTATE_LOCAL)},
              L"C:\\QXLocked\\spare.dll|File||Everyone|1|22", KeptFile(L"Unfeatured", L"spare.dll")),
        Wrote("NoRows", {}, {}, L"", {})),
    CaseName);

INSTANTIATE_TEST_SUITE_P(
    Failures, CostActionTest,
    ::testing::Values(
        Failed("MissingFile", Lock(L"NoSuchFile", L"File"),
               Join({{L"Failed to query File table for permissions on 'NoSuchFile'"}, Stopped(L"103")})),
        Failed("MissingFolder", Lock(L"NoSuchDir", L"CreateFolder"),
               Join({{L"Failed to fetch record from CreateFolder query for object 'NoSuchDir'"}, Stopped(L"103")})),
        Failed("MissingRegistryKey", Lock(L"NoSuchKey", L"Registry"),
               Join({{L"Failed to query Registry table for object 'NoSuchKey'"}, Stopped(L"103")})),
        // A bare name would be resolved against the install action's current folder.
        Failed("NoTargetPath", Lock(L"GhostDir", L"CreateFolder"),
               Join({Kept(L"MainComponent"),
                     {L"Failed to obtain target path for directory 'GhostDir', error 267"},
                     Stopped(L"10b")})),
        Failed("UnknownRoot", Lock(L"Root4", L"Registry"),
               Join({Kept(L"MainComponent"), {L"Unknown registry root type: 4"}, Stopped(L"57")})),
        // A component the Component table lacks: its states are unknown, so costing stops.
        Failed("ComponentMissing", Lock(L"GhostFile", L"File"),
               {L"Failed to obtain component record for component 'Ghost', error 103",
                L"Attempting to determine component state for Ghost",
                L"Failed to obtain state of component 'Ghost', error 0x00000647", Stopped(L"647").front()})),
    CaseName);

class CostPassTest : public CostActionTestBase { };

// Rows in a known order: a dropped row does not stop the pass, an unknown table
// word does, after the records of the rows before it were written. (The cost
// action then stores none of them: the Failures cases above.)
TEST_F(CostPassTest, UnknownTableWordStopsAfterEarlierRecords)
{
    ASSERT_NO_FATAL_FAILURE(StartCostSession(CostPackage(), {}));
    std::vector<LockPermissionsRow> rows = {
        {L"UnfeaturedFile", L"File", L"", L"Everyone", 1, 0},     {L"ShortName", L"File", L"", L"Everyone", 1, 0},
        {L"Root2", L"Registry", L"", L"Everyone", 1, 0},          {L"Root2", L"Registr", L"", L"Everyone", 1, 0},
        {L"INSTALLDIR", L"CreateFolder", L"", L"Everyone", 1, 0},
    };
    _stringx<> text;

    EXPECT_EQ(87u, BuildFinalPermissionsItems(Layers(), rows, text));
    EXPECT_EQ(L"C:\\QXLocked\\app.exe|File||Everyone|1|8*MACHINE\\Software\\Qelmora|Registry||Everyone|1|8",
              text.str());
    EXPECT_EQ(Join({States(L"Unfeatured", L"2", L"ffffffff"),
                    KeptFile(L"MainComponent", L"app.exe"),
                    Kept(L"MainComponent"),
                    {L"QxLockPermissions: unknown table 'Registr' for lock object"}}),
              m_log.LibraryMessages());
}

// What costing writes, the install action reads back field for field, every
// 32-bit value included.
TEST_F(CostPassTest, EveryRecordReadsBackAsItsRow)
{
    ASSERT_NO_FATAL_FAILURE(StartCostSession(CostPackage(), {}));
    std::vector<LockPermissionsRow> rows = {
        {L"LongName", L"File", L"", L"Everyone", 0x80000000, 0},
        {L"DATADIR", L"CreateFolder", L"CORP", L"alice", 0xFFFFFFFF, 0x80000000},
        {L"Reg32", L"registry", L"", L"Users", 0x20019, 0xFFFFFFFF},
    };
    _stringx<> written;
    ASSERT_EQ(0u, BuildFinalPermissionsItems(Layers(), rows, written));
    const std::wstring text = written.str();
    const wchar_t* objects[] = {L"C:\\QXLocked\\Application.exe", L"C:\\QXLocked\\Data\\",
                                L"MACHINE\\Software\\Qelmora\\32"};
    const LockObjectKind kinds[] = {LockObjectKind::File, LockObjectKind::CreateFolder, LockObjectKind::Registry};
    EXPECT_EQ(std::wstring(objects[0]) + L"|File||Everyone|-2147483648|8*" + objects[1] +
                  L"|CreateFolder|CORP|alice|-1|-2147483626*" + objects[2] + L"|registry||Users|131097|-1",
              text);

    // The deferred action reads the text back from its CustomActionData.
    ASSERT_EQ(0u, SetProperty(L"CustomActionData", text));
    std::vector<PermissionsItem> items;
    ASSERT_EQ(0u, ParseCustomActionData(::GetProperty(Session(), L"CustomActionData"), items, m_sessionLog));
    ASSERT_EQ(rows.size(), items.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const PermissionsItem& item = items[i];
        EXPECT_EQ(objects[i], item.m_strObjectName.str()) << i;
        EXPECT_EQ(kinds[i], item.m_kind) << i;
        EXPECT_EQ(i == 2 ? SE_REGISTRY_KEY : SE_FILE_OBJECT, item.m_objectType) << i;
        EXPECT_EQ(rows[i].m_strDomain.str(), item.m_strDomain.str()) << i;
        EXPECT_EQ(rows[i].m_strUser.str(), item.m_strUser.str()) << i;
        EXPECT_EQ(rows[i].m_dwPermission, item.m_dwPermission) << i;
        EXPECT_EQ(rows[i].m_dwFlags, item.m_dwFlags) << i;
    }
}

} // namespace
