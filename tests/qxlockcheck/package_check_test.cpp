// The checks of QXLockCheck, each shown firing on a package built from table
// literals, and silent on a package made as the authoring files make it.
#include <gtest/gtest.h>

#include <windows.h>
#include <msiquery.h>

#include <algorithm>
#include <cwchar>

#include "CheckedPackage.h"
#include "PackageCheck.h"
#include "msi/MsiHandle.h"

using namespace qxtest;
using qxcheck::Check;
using qxcheck::Finding;

namespace {

const wchar_t kLockColumns[] = L"LockObject\tTable\tDomain\tUser\tPermission\tFlags";

// A finding as the checker would print it, without the package: what must match.
std::wstring Line(const Finding& finding)
{
    return qxcheck::SeverityAndCode(finding) + L": " + finding.subject;
}

struct Expected {
    const wchar_t* line;   // severity, code and subject
    const wchar_t* phrase; // part of the message
};

struct CheckCase {
    const char* name;
    std::function<void(PackageParts&)> change;
    std::vector<Expected> expected;
};

void PrintTo(const CheckCase& c, std::ostream* os)
{
    *os << c.name;
}

std::function<void(PackageParts&)> LockRow(Row row)
{
    return [row](PackageParts& parts) { parts.lockRows.push_back(row); };
}

// The rollback action goes just before the install action, as the authoring files put it.
std::function<void(PackageParts&)> Sequence(int cost, int install, int rollback = 0)
{
    return [=](PackageParts& parts) {
        parts.sequence = {{L"QXLockPermissionsCost", nullptr, cost},
                          {L"QXLockPermissionsRollback", nullptr, rollback ? rollback : install - 1},
                          {L"QXLockPermissionsInstall", nullptr, install}};
    };
}

std::function<void(PackageParts&)> CostType(int type)
{
    return [=](PackageParts& parts) { (*parts.costAction)[1] = type; };
}

std::function<void(PackageParts&)> InstallType(int type)
{
    return [=](PackageParts& parts) { (*parts.installAction)[1] = type; };
}

// Lock table columns of the case's own, with rows of as many fields.
std::function<void(PackageParts&)> LockColumns(const wchar_t* names, const wchar_t* types, std::vector<Row> rows)
{
    return [=](PackageParts& parts) {
        parts.lockRows = rows;
        parts.extra = [=](PackageBuilder& builder) {
            builder.Columns(L"QXLockPermissions", names, types, L"LockObject\tTable\tDomain\tUser");
        };
    };
}

std::function<void(PackageParts&)> Objects(std::function<void(PackageBuilder&)> objects, std::vector<Row> lockRows)
{
    return [=](PackageParts& parts) {
        parts.extra = objects;
        parts.lockRows.insert(parts.lockRows.end(), lockRows.begin(), lockRows.end());
    };
}

std::vector<Finding> CheckBuilt(const PackageBuilder& builder)
{
    std::wstring error;
    auto package = builder.Build(&error);
    EXPECT_TRUE(package) << std::string(error.begin(), error.end());
    if (!package) {
        return {};
    }
    qx::unique_msihandle database;
    EXPECT_EQ(0u, ::MsiOpenDatabaseW(package->Path().c_str(), MSIDBOPEN_READONLY, database.put()));
    return qxcheck::CheckPackage(database.get());
}

class PackageCheckTest : public ::testing::TestWithParam<CheckCase> { };

// Rows come in the order the installer's view gives them, so the findings are
// compared as a set: each expected one matched by line and by a phrase of its message.
TEST_P(PackageCheckTest, FindsExactlyWhatIsWrong)
{
    const CheckCase& c = GetParam();
    PackageParts parts;
    if (c.change) {
        c.change(parts);
    }

    std::vector<Finding> findings = CheckBuilt(CheckedPackage(parts));

    std::vector<std::wstring> lines;
    for (const Finding& finding : findings) {
        lines.push_back(Line(finding));
    }
    std::vector<std::wstring> expectedLines;
    for (const Expected& expected : c.expected) {
        expectedLines.push_back(expected.line);
    }
    std::sort(lines.begin(), lines.end());
    std::sort(expectedLines.begin(), expectedLines.end());
    ASSERT_EQ(expectedLines, lines);
    for (const Expected& expected : c.expected) {
        auto match = std::find_if(findings.begin(), findings.end(), [&](const Finding& finding) {
            return Line(finding) == expected.line && finding.message.find(expected.phrase) != std::wstring::npos;
        });
        EXPECT_NE(match, findings.end()) << "no finding "
                                         << std::string(expected.line, expected.line + std::wcslen(expected.line))
                                         << " that says "
                                         << std::string(expected.phrase,
                                                        expected.phrase + std::wcslen(expected.phrase));
        if (match != findings.end()) {
            findings.erase(match);
        }
    }
}

const CheckCase kCases[] = {
    {"clean: the authoring files' rows, a formatted account, table words in any case", nullptr, {}},
    {"clean: no lock table, which the cost action skips", [](PackageParts& parts) { parts.lockTable = false; }, {}},

    // Errors: the installation fails or locks the wrong thing.
    {"lock table of five columns",
     LockColumns(L"LockObject\tTable\tDomain\tUser\tPermission", L"s72\ts32\tS255\ts255\ti4",
                 {{L"File64", L"File", nullptr, L"Users", 1179817}}),
     {{L"error QXC001: QXLockPermissions", L"has 5 columns"}}},
    {"lock table with a text mask and an integer user",
     LockColumns(kLockColumns, L"s72\ts32\tS255\ti4\ts32\tI4",
                 {{L"File64", L"File", nullptr, 545, L"1179817", nullptr}}),
     {{L"error QXC001: QXLockPermissions",
       L"column 4 (User, i4) must be text; column 5 (Permission, s32) must be an integer"}}},
    {"table word not known",
     LockRow({L"File64", L"Files", nullptr, L"Users", 1179817, nullptr}),
     {{L"error QXC002: File64/Files//Users", L"'Files' is not File, CreateFolder or Registry"}}},
    {"file key missing",
     LockRow({L"NoFile", L"File", nullptr, L"Users", 1179817, nullptr}),
     {{L"error QXC003: NoFile/File//Users", L"File table has no row 'NoFile'"}}},
    {"registry key missing",
     LockRow({L"NoKey", L"Registry", nullptr, L"Users", 131097, nullptr}),
     {{L"error QXC003: NoKey/Registry//Users", L"Registry table has no row 'NoKey'"}}},
    {"folder without a CreateFolder row",
     LockRow({L"INSTALLDIR", L"CreateFolder", nullptr, L"Users", 1179817, 0}),
     {{L"error QXC004: INSTALLDIR/CreateFolder//Users", L"directory 'INSTALLDIR' has no CreateFolder row"}}},
    {"folder that is no directory",
     LockRow({L"NODIR", L"CreateFolder", nullptr, L"Users", 1179817, 0}),
     {{L"error QXC004: NODIR/CreateFolder//Users", L"'NODIR' is no directory"}}},
    {"component missing",
     Objects([](PackageBuilder& b) { b.File(L"Ghost", L"GhostComponent", L"ghost.dll"); },
             {{L"Ghost", L"File", nullptr, L"Users", 1179817, nullptr}}),
     {{L"error QXC005: Ghost/File//Users", L"component 'GhostComponent' is not in the Component table"}}},
    {"registry root outside -1 to 3",
     Objects([](PackageBuilder& b) { b.Registry(L"Root4", 4, L"Software\\Qelmora", L"MainComponent"); },
             {{L"Root4", L"Registry", nullptr, L"Users", 131097, nullptr}}),
     {{L"error QXC006: Root4/Registry//Users", L"root is 4"}}},
    {"'*' in a registry key",
     Objects([](PackageBuilder& b) { b.Registry(L"Shellex", 0, L"*\\shellex\\Qelmora", L"MainComponent"); },
             {{L"Shellex", L"Registry", nullptr, L"Users", 131097, nullptr}}),
     {{L"error QXC007: Shellex/Registry//Users", L"key '*\\shellex\\Qelmora' holds '*'"}}},
    {"'|' in a domain and '*' in a user",
     LockRow({L"File64", L"File", L"CORP|EU", L"ops*", 1179817, nullptr}),
     {{L"error QXC007: File64/File/CORP|EU/ops*", L"Domain 'CORP|EU' holds '|'"},
      {L"error QXC007: File64/File/CORP|EU/ops*", L"User 'ops*' holds '*'"}}},
    {"empty user",
     [](PackageParts& parts) {
         LockColumns(kLockColumns, L"s72\ts32\tS255\tS255\ti4\tI4", parts.lockRows)(parts);
         parts.lockRows.push_back({L"File64", L"File", L"CORP", nullptr, 1179817, nullptr});
     },
     {{L"error QXC008: File64/File/CORP/", L"User is empty"}}},
    {"flag bits other than 1, 2 and 4",
     LockRow({L"File64", L"File", nullptr, L"Everyone", 1179817, 0x18}),
     {{L"error QXC009: File64/File//Everyone", L"Flags 24 (0x18)"}}},
    {"no cost action",
     [](PackageParts& parts) { parts.costAction.reset(); },
     {{L"error QXC010: CustomAction", L"no custom action calls QXLockPermissionsCostAction"}}},
    {"no install action",
     [](PackageParts& parts) { parts.installAction.reset(); },
     {{L"error QXC010: CustomAction", L"no custom action is named QXLockPermissionsInstall"}}},
    {"install action under another name",
     [](PackageParts& parts) {
         (*parts.installAction)[0] = L"QXApply";
         parts.sequence = {{L"QXLockPermissionsCost", nullptr, 1010},
                           {L"QXLockPermissionsRollback", nullptr, 5049},
                           {L"QXApply", nullptr, 5050}};
     },
     {{L"error QXC010: QXApply", L"is not named QXLockPermissionsInstall"},
      {L"error QXC010: CustomAction", L"no custom action is named QXLockPermissionsInstall"}}},
    {"deferred cost action", CostType(1025), {{L"error QXC011: QXLockPermissionsCost", L"type 1025 is deferred"}}},
    {"cost action from an installed file",
     CostType(17),
     {{L"error QXC011: QXLockPermissionsCost", L"type 17 is not a DLL stored in the Binary table"}}},
    {"immediate install action",
     InstallType(1),
     {{L"error QXC011: QXLockPermissionsInstall", L"type 1 is not a deferred action"},
      {L"warning QXC101: QXLockPermissionsInstall", L"impersonates"}}},
    {"install action as a rollback action",
     InstallType(3329),
     {{L"error QXC011: QXLockPermissionsInstall", L"type 3329 is not a deferred action"}}},
    {"install action with another entry point",
     [](PackageParts& parts) { (*parts.installAction)[3] = L"QXLockPermissionsInstall"; },
     {{L"error QXC011: QXLockPermissionsInstall", L"calls 'QXLockPermissionsInstall'"}}},
    {"cost action before CostFinalize",
     Sequence(990, 5050),
     {{L"error QXC012: QXLockPermissionsCost", L"sequence 990 is not after CostFinalize (1000)"}}},
    {"cost action after the install action",
     Sequence(5060, 5050),
     {{L"error QXC012: QXLockPermissionsCost", L"sequence 5060 is not before QXLockPermissionsInstall (5050)"}}},
    {"cost action not sequenced",
     [](PackageParts& parts) {
         parts.sequence = {{L"QXLockPermissionsRollback", nullptr, 5049}, {L"QXLockPermissionsInstall", nullptr, 5050}};
     },
     {{L"error QXC012: QXLockPermissionsCost", L"not in InstallExecuteSequence"}}},
    {"install action before the files and keys exist",
     Sequence(1010, 3800),
     {{L"error QXC012: QXLockPermissionsInstall", L"sequence 3800 is not after InstallFiles (4000)"},
      {L"error QXC012: QXLockPermissionsInstall", L"sequence 3800 is not after WriteRegistryValues (5000)"}}},
    {"install action after InstallFinalize",
     Sequence(1010, 6700),
     {{L"error QXC012: QXLockPermissionsInstall", L"not before InstallFinalize (6600)"}}},
    {"no Binary row",
     [](PackageParts& parts) { parts.library.reset(); },
     {{L"error QXC013: QXLockPermissionsCost", L"Binary table has no row 'QXLockPermissions.dll'"}}},
    {"Binary row holds no DLL",
     [](PackageParts& parts) { parts.library = "QXLockPermissions.dll"; },
     {{L"error QXC013: QXLockPermissionsCost", L"holds no 32-bit or 64-bit Windows DLL"}}},
    {"Binary row holds a program, not a DLL",
     [](PackageParts& parts) { parts.library = ImageHead(kMachineX64, false); },
     {{L"error QXC013: QXLockPermissionsCost", L"holds no 32-bit or 64-bit Windows DLL"}}},

    // Warnings: it installs, but not as the author likely meant.
    {"impersonating install action",
     InstallType(1025),
     {{L"warning QXC101: QXLockPermissionsInstall", L"type 1025 impersonates"}}},
    {"no rollback action",
     [](PackageParts& parts) { parts.rollbackAction.reset(); },
     {{L"warning QXC107: CustomAction", L"no custom action is named QXLockPermissionsRollback"}}},
    {"rollback action after the install action",
     Sequence(1010, 5050, 5051),
     {{L"warning QXC107: QXLockPermissionsRollback", L"sequence 5051 is not before QXLockPermissionsInstall"}}},
    {"rollback action not sequenced",
     [](PackageParts& parts) { parts.sequence.erase(parts.sequence.begin() + 1); },
     {{L"warning QXC107: QXLockPermissionsRollback", L"not in InstallExecuteSequence"}}},
    {"rollback action deferred",
     [](PackageParts& parts) { (*parts.rollbackAction)[1] = 3073; },
     {{L"warning QXC107: QXLockPermissionsRollback", L"type 3073 calling 'QXLockPermissionsRollbackAction' is not"}}},
    {"rollback action under another name",
     [](PackageParts& parts) { (*parts.rollbackAction)[0] = L"QXUndo"; },
     {{L"warning QXC107: QXUndo", L"is not named QXLockPermissionsRollback"},
      {L"warning QXC107: CustomAction", L"no custom action is named QXLockPermissionsRollback"}}},
    {"no error 27555",
     [](PackageParts& parts) { parts.errorMessage = false; },
     {{L"warning QXC102: Error", L"no message 27555"}}},
    {"registry rows for the helper the 64-bit library lacks",
     [](PackageParts& parts) {
         parts.lockRows.push_back({L"Reg32", L"Registry", nullptr, L"Users", 131097, nullptr});
         parts.lockRows.push_back({L"Reg64", L"Registry", nullptr, L"Guests", 131097, 4});
         parts.lockRows.push_back({L"Reg64", L"Registry", nullptr, L"Everyone", 131097, 2});
     },
     {{L"warning QXC103: Reg32/Registry//Users", L"component 'Comp32' has no 64-bit attribute"},
      {L"warning QXC103: Reg64/Registry//Guests", L"flag 4 sends"},
      {L"warning QXC103: Reg64/Registry//Everyone", L"flag 2 sends"}}},
    {"the 32-bit library: helper rows are fine, a 64-bit component's key is in the other view",
     [](PackageParts& parts) {
         parts.library = ImageHead(kMachineX86);
         parts.lockRows.push_back({L"Reg32", L"Registry", nullptr, L"Users", 131097, nullptr});
         parts.lockRows.push_back({L"Reg64", L"Registry", nullptr, L"Guests", 131097, 4});
     },
     {{L"warning QXC106: Reg64/Registry//[READERS]", L"in the 32-bit registry view"}}},
    {"flag 2 on a file",
     LockRow({L"File64", L"File", nullptr, L"Everyone", 1179817, 2}),
     {{L"warning QXC104: File64/File//Everyone", L"changes nothing on a file"}}},
    {"generic rights in a mask",
     LockRow({L"File64", L"File", nullptr, L"Everyone", 0x10000000, nullptr}),
     {{L"warning QXC105: File64/File//Everyone", L"Permission 0x10000000 holds generic rights"}}},
};

INSTANTIATE_TEST_SUITE_P(Checks, PackageCheckTest, ::testing::ValuesIn(kCases));

// The library that applies the rows is told from the real DLL's header, too.
TEST(PackageCheck, ReadsTheBuiltLibraryAs64Bit)
{
    PackageParts parts;
    parts.library = BuiltLibrary();
    ASSERT_GT(parts.library->size(), 4096u);
    EXPECT_TRUE(CheckBuilt(CheckedPackage(parts)).empty());

    parts.lockRows.push_back({L"Reg32", L"Registry", nullptr, L"Users", 131097, nullptr});
    const std::vector<Finding> findings = CheckBuilt(CheckedPackage(parts));
    ASSERT_EQ(1u, findings.size());
    EXPECT_EQ(Check::RegistryWithoutHelper, findings[0].check);
}

// A package without the library is missing everything the library needs.
TEST(PackageCheck, PackageWithoutTheLibrary)
{
    std::vector<std::wstring> lines;
    for (const Finding& finding : CheckBuilt(PackageBuilder())) {
        lines.push_back(Line(finding));
    }
    EXPECT_EQ((std::vector<std::wstring>{L"error QXC010: CustomAction", L"error QXC010: CustomAction",
                                         L"warning QXC102: Error"}),
              lines);
}

} // namespace
