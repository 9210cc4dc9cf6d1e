// Each check of QXLockCheck firing, with its code and subject, on the clean package with one thing broken.
#include <gtest/gtest.h>

#include <windows.h>
#include <msiquery.h>

#include <algorithm>
#include <functional>

#include "CheckedPackage.h"
#include "PackageCheck.h"
#include "msi/MsiHandle.h"

using namespace qxtest;

namespace {

using Change = std::function<void(PackageParts&)>;

const Change kUnchanged = [](PackageParts&) {};

// Appends lock rows to the package's, with a change of its own.
Change Add(std::vector<Row> rows, Change also = kUnchanged)
{
    return [=](PackageParts& p) {
        p.lockRows.insert(p.lockRows.end(), rows.begin(), rows.end());
        also(p);
    };
}

// An author's table may let User and Permission be null.
const Change kNullable = [](PackageParts& p) { p.lockTypes = L"s72\ts32\tS255\tS255\tI4\tI4"; };
// The lock table with its Condition column.
const Change kConditions = [](PackageParts& p) {
    p.lockNames += L"\tCondition";
    p.lockTypes += L"\tS255";
};
// The install action after InstallServices, the rollback action just before it.
const Change kAfterServices = [](PackageParts& p) { p.sequence = Sequence(1010, 5849, 5850); };

struct CheckCase {
    Change change;
    std::vector<std::wstring> lines; // "severity code: subject", sorted
};

class PackageCheckTest : public ::testing::TestWithParam<CheckCase> { };

TEST_P(PackageCheckTest, FindsExactlyWhatIsWrong)
{
    PackageParts parts;
    GetParam().change(parts);
    std::wstring error;
    const auto package = CheckedPackage(parts).Build(&error);
    ASSERT_TRUE(package) << error;
    qx::unique_msihandle database;
    ASSERT_EQ(0u, ::MsiOpenDatabaseW(package->Path().c_str(), MSIDBOPEN_READONLY, database.put()));

    std::vector<std::wstring> lines;
    for (const qxcheck::Finding& finding : qxcheck::CheckPackage(database.get())) {
        lines.push_back(qxcheck::SeverityAndCode(finding) + L": " + finding.subject);
    }
    std::sort(lines.begin(), lines.end()); // rows come in the order the installer's view gives them
    EXPECT_EQ(GetParam().lines, lines);
}

const CheckCase kCases[] = {
    {kUnchanged, {}},
    {[](auto& p) { p.lockTypes.clear(); }, {}}, // costing skips a package without the table
    // Permission as text; with the clean package this pins which columns must be which.
    {[](auto& p) { p.lockTypes = L"s72\ts32\tS255\ts255\ts32\tI4"; }, {L"error QXC001: QXLockPermissions"}},
    {Add({{L"File64", L"Files", nullptr, L"Users", 1}}), {L"error QXC002: File64/Files//Users"}},
    {Add({{L"NoFile", L"File", nullptr, L"Users", 1},
          {L"NoKey", L"Registry", nullptr, L"Users", 1},
          {L"NoSvc", L"ServiceInstall", nullptr, L"Users", 1}}),
     {L"error QXC003: NoFile/File//Users", L"error QXC003: NoKey/Registry//Users",
      L"error QXC003: NoSvc/ServiceInstall//Users"}},
    {Add({{L"INSTALLDIR", L"CreateFolder", nullptr, L"Users", 1}}), {L"error QXC004: INSTALLDIR/CreateFolder//Users"}},
    {Add({{L"Ghost", L"File", nullptr, L"Users", 1}}), {L"error QXC005: Ghost/File//Users"}},
    {Add({{L"Root4", L"Registry", nullptr, L"Users", 1}}), {L"error QXC006: Root4/Registry//Users"}},
    {Add({{L"File64", L"File", L"CORP|EU", L"ops*", 1}, {L"Shellex", L"Registry", nullptr, L"Users", 1}}),
     {L"error QXC007: File64/File/CORP|EU/ops*", L"error QXC007: File64/File/CORP|EU/ops*",
      L"error QXC007: Shellex/Registry//Users"}},
    {Add({{L"File64", L"File", L"CORP", nullptr, 1}}, kNullable), {L"error QXC008: File64/File/CORP/"}},
    {Add({{L"File64", L"File", nullptr, L"Everyone", 1, 8}}), {L"error QXC009: File64/File//Everyone"}},
    {[](auto& p) { p.actions[kCost][3] = L"Cost"; }, {L"error QXC010: CustomAction"}},
    // Another action calling the install entry point only receives no data.
    {[](auto& p) { p.actions[kInstall][0] = L"QXApply"; }, {L"error QXC010: CustomAction", L"warning QXC108: QXApply"}},
    {[](auto& p) {
         p.actions.push_back({L"QXApplyAgain", 3073, L"QXLockPermissions.dll", L"QXLockPermissionsInstallAction"});
     },
     {L"warning QXC108: QXApplyAgain"}},
    // Cost: deferred (1024), and a DLL installed as a file (17). Install: an EXE (2) as a rollback action (3328).
    {[](auto& p) { p.actions[kCost][1] = 1024 + 17; },
     {L"error QXC011: QXLockPermissionsCost", L"error QXC011: QXLockPermissionsCost"}},
    {[](auto& p) { p.actions[kInstall][1] = 3328 + 2; },
     {L"error QXC011: QXLockPermissionsInstall", L"error QXC011: QXLockPermissionsInstall"}},
    {[](auto& p) { p.actions[kInstall][3] = L"Install"; }, {L"error QXC011: QXLockPermissionsInstall"}},
    {[](auto& p) { p.sequence = Sequence(1000, 6599, 6600); }, // at CostFinalize and InstallFinalize
     {L"error QXC012: QXLockPermissionsCost", L"error QXC012: QXLockPermissionsInstall"}},
    {[](auto& p) { p.sequence = Sequence(5000, 4999, 5000); }, // together, at WriteRegistryValues
     {L"error QXC012: QXLockPermissionsCost", L"error QXC012: QXLockPermissionsInstall"}},
    // The install action follows only what makes the kinds of object the rows name: File rows alone
    // may come right after InstallFiles; a service needs InstallServices first, or the row is wrong.
    {[](auto& p) { p.sequence = Sequence(1010, 4001, 4002); }, {L"error QXC012: QXLockPermissionsInstall"}},
    {[](auto& p) {
         p.sequence = Sequence(1010, 4001, 4002);
         p.lockRows = {{L"File64", L"File", nullptr, L"Users", 1179817}};
     },
     {}},
    {Add({{L"Svc64", L"ServiceInstall", nullptr, L"Users", 0x34}}), {L"error QXC012: Svc64/ServiceInstall//Users"}},
    {Add({{L"Svc64", L"serviceinstall", nullptr, L"Users", 0x34}},
         [](auto& p) { p.sequence.erase(p.sequence.begin() + 4); }), // InstallServices
     {L"error QXC012: Svc64/serviceinstall//Users"}},
    {Add({{L"Svc64", L"ServiceInstall", nullptr, L"Users", 0x34}}, kAfterServices), {}},
    {[](auto& p) { p.sequence.clear(); },
     {L"error QXC012: QXLockPermissionsCost", L"error QXC012: QXLockPermissionsInstall",
      L"warning QXC107: QXLockPermissionsRollback"}},
    {[](auto& p) { p.library.clear(); }, {L"error QXC013: QXLockPermissionsCost"}},
    {[](auto& p) { p.library = ImageHead(0x8664, false); }, {L"error QXC013: QXLockPermissionsCost"}},
    {[](auto& p) { p.actions[kInstall][1] = 1025; }, {L"warning QXC101: QXLockPermissionsInstall"}},
    {[](auto& p) { p.errors.clear(); }, {L"warning QXC102: Error"}},
    // The 64-bit library lacks the helper that a 32-bit component's key, and flag 2, send a row to.
    {Add({{L"Reg32", L"Registry", nullptr, L"Users", 1}, {L"Reg64", L"Registry", nullptr, L"Everyone", 1, 2}}),
     {L"warning QXC103: Reg32/Registry//Users", L"warning QXC103: Reg64/Registry//Everyone"}},
    {Add({{L"File64", L"File", nullptr, L"Everyone", 1, 2}}), {L"warning QXC104: File64/File//Everyone"}},
    // The lowest generic right, and an empty mask, which reads as GENERIC_READ.
    {Add({{L"File64", L"File", nullptr, L"Everyone", 0x10000000}, {L"File64", L"File", nullptr, L"Guest"}}, kNullable),
     {L"warning QXC105: File64/File//Everyone", L"warning QXC105: File64/File//Guest"}},
    // The 32-bit library carries the helper, but writes a 64-bit component's key in the other view.
    {Add({{L"Reg32", L"Registry", nullptr, L"Users", 1}}, [](auto& p) { p.library = ImageHead(0x014C); }),
     {L"warning QXC106: Reg64/Registry//[READERS]"}},
    {[](auto& p) { p.actions[kRollback][0] = L"QXUndo"; },
     {L"warning QXC107: CustomAction", L"warning QXC107: QXUndo"}},
    {[](auto& p) { p.actions[kRollback][1] = 3073; }, {L"warning QXC107: QXLockPermissionsRollback"}},
    {[](auto& p) { p.sequence = Sequence(1010, 5050, 5050); }, {L"warning QXC107: QXLockPermissionsRollback"}},
    // Conditions the installer parses, and one it cannot.
    {Add({{L"File64", L"File", nullptr, L"Everyone", 1, 0, L"QXVendor = \"x\" AND NOT Installed"},
          {L"Reg64", L"Registry", nullptr, L"Everyone", 1, 0, L"VersionNT64 >= 600 AND"}},
         kConditions),
     {L"error QXC014: Reg64/Registry//Everyone"}},
    // A package that neither has the lock table nor uses the actions is none of the checker's business.
    {[](auto& p) {
         p.lockTypes.clear();
         p.actions = {{L"OtherAction", 1, L"QXLockPermissions.dll", L"SomethingElse"}};
         p.errors.clear();
     },
     {}},
    // The library takes a directory's first CreateFolder row as the installer gives it; the
    // second one's component is not in the Component table.
    {[](auto& p) {
         p.createFolders.push_back({L"DATADIR", L"NoComponent"});
     },
     {}},
};

INSTANTIATE_TEST_SUITE_P(Checks, PackageCheckTest, ::testing::ValuesIn(kCases));

} // namespace
