// The cost action on real packages: what it writes into QXLockPermissionsInstall,
// what it logs, and how a broken row ends the pass.
#include <optional>

#include "InstallerFixture.h"
#include "entry/LockPermissionsManager.h"

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
Lines Kept(const std::wstring& component) { return States(component, L"2", L"3"); }

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
    builder.Table(L"QXLockPermissions", kLockTableColumns)
        .Directory(L"DATADIR", L"INSTALLDIR", L"Data")
        .Component(L"Comp32", L"INSTALLDIR", 0x0)
        .Component(L"Comp4", L"INSTALLDIR", 0x4)
        .Component(L"Comp104", L"INSTALLDIR", 0x104)
        .Component(L"Unfeatured", L"INSTALLDIR", 0x0, nullptr)
        .Rows(L"Component", {{L"NoCode", nullptr, L"INSTALLDIR", 0, nullptr, nullptr}})
        .Rows(L"FeatureComponents", {{L"MainFeature", L"NoCode"}})
        .File(L"LongName", L"MainComponent", L"APPLIC~1.EXE|Application.exe")
        .File(L"ShortName", L"MainComponent", L"app.exe")
        .File(L"File32", L"Comp32", L"lib32.dll")
        .File(L"File4", L"Comp4", L"lib4.dll")
        .File(L"File104", L"Comp104", L"lib104.dll")
        .File(L"UnfeaturedFile", L"Unfeatured", L"spare.dll")
        .File(L"NoCodeFile", L"NoCode", L"nocode.dll")
        .File(L"GhostFile", L"Ghost", L"ghost.dll")
        .CreateFolder(L"INSTALLDIR", L"MainComponent")
        .CreateFolder(L"DATADIR", L"Comp32")
        .Registry(L"Root0", 0, L"Software\\Qelmora", L"MainComponent")
        .Registry(L"Root1", 1, L"Software\\Qelmora", L"MainComponent")
        .Registry(L"Root2", 2, L"Software\\Qelmora", L"MainComponent")
        .Registry(L"Root3", 3, L"Software\\Qelmora", L"MainComponent")
        .Registry(L"RootAllUsers", -1, L"Software\\Qelmora", L"MainComponent")
        .Registry(L"Root4", 4, L"Software\\Qelmora", L"MainComponent")
        .Registry(L"RootMinus2", -2, L"Software\\Qelmora", L"MainComponent")
        .Registry(L"LeadingBackslash", 2, L"\\Software\\Qelmora", L"MainComponent")
        .Registry(L"EmptyKey", 2, nullptr, L"MainComponent")
        .Registry(L"EmptyUserKey", 1, nullptr, L"MainComponent")
        .Registry(L"Formatted", 2, L"Software\\[QXVendor]\\Settings", L"MainComponent")
        .Registry(L"Reg32", 2, L"Software\\Qelmora\\32", L"Comp32")
        .Registry(L"GhostKey", 2, L"Software\\Ghost", L"Ghost")
        .Property(L"QXVendor", L"Qelmora Labs");
    return builder;
}

// Something a case changes in the session after costing, before the action runs.
struct Setting {
    enum class Kind { Property, TargetPath, ComponentState };
    Kind kind;
    const wchar_t* name;
    std::wstring value;
    int state;
};

Setting Property(const wchar_t* name, std::wstring value)
{
    return {Setting::Kind::Property, name, std::move(value), 0};
}
Setting Target(const wchar_t* directory, std::wstring path)
{
    return {Setting::Kind::TargetPath, directory, std::move(path), 0};
}
Setting State(const wchar_t* component, int action) { return {Setting::Kind::ComponentState, component, L"", action}; }

// Fixed paths and user, so that texts can be written out in full.
const std::vector<Setting> kBaseSettings = {Target(L"INSTALLDIR", L"C:\\QXLocked\\"), Property(L"UserSID", kSid)};

struct CostCase {
    const char* name;
    std::vector<Row> locks;
    std::vector<Setting> settings;
    UINT result;
    std::optional<std::wstring> text; // none: the property keeps what it held
    Lines messages;
};

void PrintTo(const CostCase& c, std::ostream* os) { *os << c.name; }

class CostActionTestBase : public InstallerTest {
protected:
    void StartCostSession(const PackageBuilder& builder, const std::vector<Setting>& settings)
    {
        ASSERT_NO_FATAL_FAILURE(StartSession(builder));
        for (const std::vector<Setting>* list : {&kBaseSettings, &settings}) {
            for (const Setting& s : *list) {
                UINT result = ERROR_SUCCESS;
                switch (s.kind) {
                case Setting::Kind::Property:
                    result = m_session.SetProperty(s.name, s.value);
                    break;
                case Setting::Kind::TargetPath:
                    result = ::MsiSetTargetPathW(Session(), s.name, s.value.c_str());
                    break;
                case Setting::Kind::ComponentState:
                    result = ::MsiSetComponentStateW(Session(), s.name, static_cast<INSTALLSTATE>(s.state));
                    break;
                }
                ASSERT_EQ(0u, result) << Narrow(s.name);
            }
        }
        ASSERT_EQ(0u, m_session.SetProperty(kDataProperty, kSentinel));
    }

    UINT RunCostAction()
    {
        ActionLibrary::Action action = m_library.ByName("QXLockPermissionsCostAction");
        if (!action) {
            ADD_FAILURE() << "cost action not exported";
            return ERROR_PROC_NOT_FOUND;
        }
        return action(Session());
    }

    ActionLibrary m_library;
};

class CostActionTest : public CostActionTestBase, public ::testing::WithParamInterface<CostCase> {};

TEST_P(CostActionTest, WritesKeptRowsOrStops)
{
    const CostCase& c = GetParam();
    PackageBuilder builder = CostPackage();
    for (const Row& row : c.locks) {
        builder.Lock(row);
    }
    ASSERT_NO_FATAL_FAILURE(StartCostSession(builder, c.settings));

    EXPECT_EQ(c.result, RunCostAction());
    EXPECT_EQ(c.text.value_or(kSentinel), m_session.GetProperty(kDataProperty));
    EXPECT_EQ(c.messages, m_log.LibraryMessages());
}

std::string CaseName(const ::testing::TestParamInfo<CostCase>& info) { return info.param.name; }

const wchar_t kApp[] = L"C:\\QXLocked\\Application.exe";

INSTANTIATE_TEST_SUITE_P(
    Files, CostActionTest,
    ::testing::Values(
        CostCase{"LongName",
                 {{L"LongName", L"File", nullptr, L"Everyone", 0x1F01FF, 0}},
                 {},
                 0,
                 std::wstring(kApp) + L"|File||Everyone|2032127|8",
                 Join({Kept(L"MainComponent"), {L"Got target for file: Application.exe"}})},
        CostCase{"ShortNameLowerCaseWord",
                 {{L"ShortName", L"file", L"CORP", L"alice", 0x10000000, 0}},
                 {},
                 0,
                 L"C:\\QXLocked\\app.exe|file|CORP|alice|268435456|8",
                 Join({Kept(L"MainComponent"), {L"Got target for file: app.exe"}})},
        // The installer hands the target back with a backslash even when it was set without one.
        CostCase{"TargetSetWithoutBackslash",
                 {{L"LongName", L"File", nullptr, L"Everyone", 0x1F01FF, 0}},
                 {Target(L"INSTALLDIR", L"C:\\QXLocked")},
                 0,
                 std::wstring(kApp) + L"|File||Everyone|2032127|8",
                 Join({Kept(L"MainComponent"), {L"Got target for file: Application.exe"}})},
        CostCase{"TargetLongerThanMaxPath",
                 {{L"LongName", L"File", nullptr, L"Everyone", 0x1F01FF, 0}},
                 {Target(L"INSTALLDIR", kLongDirectory)},
                 0,
                 kLongDirectory + L"\\Application.exe|File||Everyone|2032127|8",
                 Join({Kept(L"MainComponent"), {L"Got target for file: Application.exe"}})},
        CostCase{"Folder",
                 {{L"INSTALLDIR", L"CreateFolder", nullptr, L"Everyone", 0x1F01FF, 0}},
                 {},
                 0,
                 L"C:\\QXLocked\\|CreateFolder||Everyone|2032127|8",
                 Join({Kept(L"MainComponent"), {L"Got target path C:\\QXLocked\\ for directory INSTALLDIR"}})},
        CostCase{"FolderOf32BitComponent",
                 {{L"DATADIR", L"CreateFolder", nullptr, L"Users", 0x120089, 4}},
                 {},
                 0,
                 L"C:\\QXLocked\\Data\\|CreateFolder||Users|1179785|22",
                 Join({Kept(L"Comp32"), {L"Got target path C:\\QXLocked\\Data\\ for directory DATADIR"}})},
        CostCase{"FolderLongerThanMaxPath",
                 {{L"INSTALLDIR", L"CreateFolder", nullptr, L"Everyone", 1, 0}},
                 {Target(L"INSTALLDIR", kLongDirectory)},
                 0,
                 kLongDirectory + L"\\|CreateFolder||Everyone|1|8",
                 Join({Kept(L"MainComponent"),
                       {L"Got target path " + kLongDirectory + L"\\ for directory INSTALLDIR"}})}),
    CaseName);

// Exactly one of 0x08 (64-bit attribute 0x100) and 0x16 is ORed into the table's flags.
INSTANTIATE_TEST_SUITE_P(
    ComponentFlags, CostActionTest,
    ::testing::Values(
        CostCase{"Attributes0x0",
                 {{L"File32", L"File", nullptr, L"Everyone", 1, 0}},
                 {},
                 0,
                 L"C:\\QXLocked\\lib32.dll|File||Everyone|1|22",
                 Join({Kept(L"Comp32"), {L"Got target for file: lib32.dll"}})},
        CostCase{"Attributes0x4",
                 {{L"File4", L"File", nullptr, L"Everyone", 1, 0}},
                 {},
                 0,
                 L"C:\\QXLocked\\lib4.dll|File||Everyone|1|22",
                 Join({Kept(L"Comp4"), {L"Got target for file: lib4.dll"}})},
        CostCase{"Attributes0x104",
                 {{L"File104", L"File", nullptr, L"Everyone", 1, 0}},
                 {},
                 0,
                 L"C:\\QXLocked\\lib104.dll|File||Everyone|1|8",
                 Join({Kept(L"Comp104"), {L"Got target for file: lib104.dll"}})},
        CostCase{"DenyOn32Bit",
                 {{L"File32", L"File", nullptr, L"Everyone", 1, 1}},
                 {},
                 0,
                 L"C:\\QXLocked\\lib32.dll|File||Everyone|1|23",
                 Join({Kept(L"Comp32"), {L"Got target for file: lib32.dll"}})},
        CostCase{"TableFlagsOn64Bit",
                 {{L"LongName", L"File", nullptr, L"Everyone", 1, 7}},
                 {},
                 0,
                 std::wstring(kApp) + L"|File||Everyone|1|15",
                 Join({Kept(L"MainComponent"), {L"Got target for file: Application.exe"}})},
        CostCase{"NullFlagsAndTopBits",
                 {{L"File32", L"File", nullptr, L"Everyone", static_cast<int>(0xF0000000), nullptr}},
                 {},
                 0,
                 L"C:\\QXLocked\\lib32.dll|File||Everyone|-268435456|-2147483626",
                 Join({Kept(L"Comp32"), {L"Got target for file: lib32.dll"}})},
        CostCase{"RegistryOf32BitComponent",
                 {{L"Reg32", L"Registry", nullptr, L"Everyone", 0x20019, 0}},
                 {},
                 0,
                 L"MACHINE\\Software\\Qelmora\\32|Registry||Everyone|131097|22",
                 Kept(L"Comp32")}),
    CaseName);

CostCase RegistryCase(const char* name, const wchar_t* key, std::vector<Setting> settings, std::wstring object)
{
    return {name, {{key, L"Registry", nullptr, L"Everyone", 0x20019, 0}}, std::move(settings), 0,
            object + L"|Registry||Everyone|131097|8", Kept(L"MainComponent")};
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
        RegistryCase("AllUsers1", L"RootAllUsers", {Property(L"ALLUSERS", L"1")}, L"MACHINE\\Software\\Qelmora"),
        RegistryCase("AllUsers2", L"RootAllUsers", {Property(L"ALLUSERS", L"2")}, kUserKey),
        RegistryCase("AllUsersEmpty", L"RootAllUsers", {Property(L"ALLUSERS", L"")}, kUserKey),
        RegistryCase("AllUsersEmptyWithoutSid", L"RootAllUsers",
                     {Property(L"ALLUSERS", L""), Property(L"UserSID", L"")}, L"USERS\\Software\\Qelmora"),
        RegistryCase("LeadingBackslash", L"LeadingBackslash", {}, L"MACHINE\\Software\\Qelmora"),
        RegistryCase("EmptyKey", L"EmptyKey", {}, L"MACHINE"),
        RegistryCase("EmptyKeyWithoutSid", L"EmptyUserKey", {Property(L"UserSID", L"")}, L"USERS"),
        RegistryCase("FormattedKey", L"Formatted", {}, L"MACHINE\\Software\\Qelmora Labs\\Settings")),
    CaseName);

CostCase DroppedCase(const char* name, const wchar_t* file, const wchar_t* component, std::vector<Setting> settings,
                     const wchar_t* action)
{
    return {name, {{file, L"File", nullptr, L"Everyone", 1, 0}}, std::move(settings), 0, L"",
            States(component, L"2", action)};
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
        CostCase{"UnknownInstalledStateInstallingLocally",
                 {{L"NoCodeFile", L"File", nullptr, L"Everyone", 1, 0}},
                 {},
                 0,
                 L"C:\\QXLocked\\nocode.dll|File||Everyone|1|22",
                 Join({States(L"NoCode", L"ffffffff", L"3"), {L"Got target for file: nocode.dll"}})},
        CostCase{"SetToLocal",
                 {{L"UnfeaturedFile", L"File", nullptr, L"Everyone", 1, 0}},
                 {State(L"Unfeatured", INSTALLSTATE_LOCAL)},
                 0,
                 L"C:\\QXLocked\\spare.dll|File||Everyone|1|22",
                 Join({Kept(L"Unfeatured"), {L"Got target for file: spare.dll"}})},
        CostCase{"NoRows", {}, {}, 0, L"", {}}),
    CaseName);

Lines GhostComponent(const wchar_t* status)
{
    return Join({{L"Failed to obtain component record for component 'Ghost', error 103",
                  L"Attempting to determine component state for Ghost",
                  L"Failed to obtain state of component 'Ghost', error 0x00000647"},
                 Stopped(status)});
}

INSTANTIATE_TEST_SUITE_P(
    Failures, CostActionTest,
    ::testing::Values(
        CostCase{"MissingFile",
                 {{L"NoSuchFile", L"File", nullptr, L"Everyone", 1, 0}},
                 {},
                 1603,
                 std::nullopt,
                 Join({{L"Failed to query File table for permissions on 'NoSuchFile'"}, Stopped(L"103")})},
        CostCase{"MissingFolder",
                 {{L"NoSuchDir", L"CreateFolder", nullptr, L"Everyone", 1, 0}},
                 {},
                 1603,
                 std::nullopt,
                 Join({{L"Failed to fetch record from CreateFolder query for object 'NoSuchDir'"}, Stopped(L"103")})},
        CostCase{"MissingRegistryKey",
                 {{L"NoSuchKey", L"Registry", nullptr, L"Everyone", 1, 0}},
                 {},
                 1603,
                 std::nullopt,
                 Join({{L"Failed to query Registry table for object 'NoSuchKey'"}, Stopped(L"103")})},
        CostCase{"UnknownRoot",
                 {{L"Root4", L"Registry", nullptr, L"Everyone", 1, 0}},
                 {},
                 1603,
                 std::nullopt,
                 Join({Kept(L"MainComponent"), {L"Unknown registry root type: 4"}, Stopped(L"57")})},
        CostCase{"NegativeUnknownRoot",
                 {{L"RootMinus2", L"Registry", nullptr, L"Everyone", 1, 0}},
                 {},
                 1603,
                 std::nullopt,
                 Join({Kept(L"MainComponent"), {L"Unknown registry root type: fffffffe"}, Stopped(L"57")})},
        CostCase{"UnknownTableWord",
                 {{L"LongName", L"Files", nullptr, L"Everyone", 1, 0}},
                 {},
                 1603,
                 std::nullopt,
                 Join({{L"QxLockPermissions: unknown table 'Files' for lock object"}, Stopped(L"57")})},
        // A component the Component table lacks: its states are unknown, so costing stops.
        CostCase{"FileComponentMissing",
                 {{L"GhostFile", L"File", nullptr, L"Everyone", 1, 0}},
                 {},
                 1603,
                 std::nullopt,
                 GhostComponent(L"647")},
        CostCase{"RegistryComponentMissing",
                 {{L"GhostKey", L"Registry", nullptr, L"Everyone", 1, 0}},
                 {},
                 1603,
                 std::nullopt,
                 GhostComponent(L"647")}),
    CaseName);

class CostPassTest : public CostActionTestBase {};

// Keys go into the queries unquoted: an apostrophe breaks the query, and the
// installer's failure leaves through the export's guard.
TEST_F(CostPassTest, InstallerFailureEndsTheActionThroughTheGuard)
{
    PackageBuilder builder = CostPackage();
    builder.Lock({L"it's", L"File", nullptr, L"Everyone", 1, 0});
    ASSERT_NO_FATAL_FAILURE(StartCostSession(builder, {}));

    EXPECT_EQ(1603u, RunCostAction());
    EXPECT_EQ(kSentinel, m_session.GetProperty(kDataProperty));
    Lines messages = m_log.LibraryMessages();
    ASSERT_EQ(1u, messages.size());
    const std::wstring prefix = L"Installer call failed, error 8007064f: ";
    const std::wstring suffix = L"MsiOpenDatabaseView()";
    const std::wstring& line = messages.front();
    ASSERT_GT(line.size(), prefix.size() + suffix.size()) << Narrow(line);
    EXPECT_EQ(prefix, line.substr(0, prefix.size())) << Narrow(line);
    EXPECT_EQ(suffix, line.substr(line.size() - suffix.size())) << Narrow(line);
}

// Rows in a known order (the package's lock table is empty, the reader appends
// to the rows already there): a dropped row does not stop the pass, an unknown
// table word does, and the records written before it are not stored.
TEST_F(CostPassTest, UnknownTableWordStopsAfterEarlierRecords)
{
    ASSERT_NO_FATAL_FAILURE(StartCostSession(CostPackage(), {}));
    CQxLockPermissionsManager manager(Session());
    manager.m_allPermissionsItems = {
        {L"UnfeaturedFile", L"File", L"", L"Everyone", 1, 0},
        {L"ShortName", L"File", L"", L"Everyone", 1, 0},
        {L"Root2", L"Registry", L"", L"Everyone", 1, 0},
        {L"Root2", L"Registr", L"", L"Everyone", 1, 0},
        {L"INSTALLDIR", L"CreateFolder", L"", L"Everyone", 1, 0},
    };

    EXPECT_EQ(1603u, manager.RunCost());
    EXPECT_EQ(L"C:\\QXLocked\\app.exe|File||Everyone|1|8*MACHINE\\Software\\Qelmora|Registry||Everyone|1|8",
              manager.m_strCustomActionData.str());
    EXPECT_EQ(kSentinel, m_session.GetProperty(kDataProperty));
    EXPECT_EQ(Join({States(L"Unfeatured", L"2", L"ffffffff"), Kept(L"MainComponent"),
                    {L"Got target for file: app.exe"}, Kept(L"MainComponent"),
                    {L"QxLockPermissions: unknown table 'Registr' for lock object"}, Stopped(L"57")}),
              m_log.LibraryMessages());
    ASSERT_EQ(5u, manager.m_allPermissionsItems.size());
    // The dropped row was flagged before it was dropped; the row after the stop never was.
    EXPECT_EQ(0x16u, manager.m_allPermissionsItems[0].m_dwFlags);
    EXPECT_EQ(0u, manager.m_allPermissionsItems[4].m_dwFlags);
}

// What costing writes, the install action reads back field for field, every
// 32-bit value included.
TEST_F(CostPassTest, EveryRecordReadsBackAsItsRow)
{
    ASSERT_NO_FATAL_FAILURE(StartCostSession(CostPackage(), {}));
    std::vector<LockPermissionsRow> rows;
    std::wstring text;
    {
        CQxLockPermissionsManager cost(Session());
        cost.m_allPermissionsItems = {
            {L"LongName", L"File", L"", L"Everyone", 0x80000000, 0},
            {L"File32", L"File", L"CORP", L"alice", 0xFFFFFFFF, LOCKPERM_DENY},
            {L"DATADIR", L"CreateFolder", L"", L"S-1-5-32-544", 0x10000000, 0x80000000},
            {L"Root2", L"Registry", L"", L"Users", 0x20019, 0xFFFFFFFF},
            {L"Reg32", L"registry", L"DOM", L"bob", 0, 6},
        };
        ASSERT_EQ(0u, cost.BuildFinalPermissionsItems());
        rows = cost.m_allPermissionsItems;
        text = cost.m_strCustomActionData.str();
    }
    EXPECT_EQ(L"C:\\QXLocked\\Application.exe|File||Everyone|-2147483648|8"
              L"*C:\\QXLocked\\lib32.dll|File|CORP|alice|-1|23"
              L"*C:\\QXLocked\\Data\\|CreateFolder||S-1-5-32-544|268435456|-2147483626"
              L"*MACHINE\\Software\\Qelmora|Registry||Users|131097|-1"
              L"*MACHINE\\Software\\Qelmora\\32|registry|DOM|bob|0|22",
              text);

    const struct {
        const wchar_t* object;
        LockObjectKind kind;
        SE_OBJECT_TYPE type;
    } expected[] = {
        {L"C:\\QXLocked\\Application.exe", LockObjectKind::File, SE_FILE_OBJECT},
        {L"C:\\QXLocked\\lib32.dll", LockObjectKind::File, SE_FILE_OBJECT},
        {L"C:\\QXLocked\\Data\\", LockObjectKind::CreateFolder, SE_FILE_OBJECT},
        {L"MACHINE\\Software\\Qelmora", LockObjectKind::Registry, SE_REGISTRY_KEY},
        {L"MACHINE\\Software\\Qelmora\\32", LockObjectKind::Registry, SE_REGISTRY_KEY},
    };
    ASSERT_EQ(0u, m_session.SetProperty(L"CustomActionData", text));
    CQxLockPermissionsManager install(Session());
    ASSERT_EQ(0u, install.GetItemsFromCustomActionData());
    ASSERT_EQ(rows.size(), install.m_finalPermissionsItems.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const PermissionsItem& item = install.m_finalPermissionsItems[i];
        EXPECT_EQ(expected[i].object, item.m_strObjectName.str()) << i;
        EXPECT_EQ(expected[i].kind, item.m_kind) << i;
        EXPECT_EQ(expected[i].type, item.m_objectType) << i;
        EXPECT_EQ(rows[i].m_strDomain.str(), item.m_strDomain.str()) << i;
        EXPECT_EQ(rows[i].m_strUser.str(), item.m_strUser.str()) << i;
        EXPECT_EQ(rows[i].m_dwPermission, item.m_dwPermission) << i;
        EXPECT_EQ(rows[i].m_dwFlags, item.m_dwFlags) << i;
    }
}

} // namespace
