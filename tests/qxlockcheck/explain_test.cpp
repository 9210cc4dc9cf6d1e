// QXLockCheck --explain on real packages: the line each kind of row gives, and
// --current against keys whose lists the test sets.
#include <gtest/gtest.h>

#include <iterator>
#include <map>

#include "CheckedPackage.h"
#include "LockCheckTool.h"
#include "SecurityTestSupport.h"

using namespace qxtest;

namespace {

struct ExplainCase {
    Row row;              // a lock row, with its condition
    std::wstring object;  // "" when the line says why the row does not apply
    const wchar_t* where; // the bracketed part
    std::wstring entry;   // what follows it
};

const wchar_t kInProcess64[] = L"64-bit view, in process; the 32-bit library: 32-bit view";
const wchar_t kNative[] = L"redirection off (native view), in process";
const wchar_t kHelper32[] = L"32-bit view, helper: not locked by the 64-bit library, which has none (the 32-bit "
                            L"library's helper locks it)";
const wchar_t kHelper64[] = L"64-bit view, helper: not locked by the 64-bit library, which has none (the 32-bit "
                            L"library's helper locks it)";
const std::wstring kFolder = L"C:\\Program Files (x86)\\QXTest\\";
const std::wstring kKey = L"MACHINE\\Software\\Qelmora";
const wchar_t kOnlyNp[] = L" (NP without OI or CI: nothing inherits it)";

// MainComponent is 64-bit, Comp32 is not; Unfeatured is in no feature.
const ExplainCase kCases[] = {
    {{L"File64", L"File", nullptr, L"Users", 0x1200a9},
     kFolder + L"app.exe",
     kNative,
     L"(A;;0x1200a9;;;S-1-5-32-545) allow FILE_GENERIC_READ|FILE_GENERIC_EXECUTE to BUILTIN\\Users (S-1-5-32-545), "
     L"on this file only"},
    // Costing adds 2 and 4 to a component without the 64-bit attribute: no inheritance at all.
    {{L"File32", L"File", nullptr, L"Everyone", 0x120089},
     kFolder + L"lib32.dll",
     L"native view, in process; the 32-bit library: redirected",
     L"(A;NP;0x120089;;;S-1-1-0) allow FILE_GENERIC_READ to Everyone (S-1-1-0), on this file only" +
         std::wstring(kOnlyNp)},
    {{L"DATADIR", L"CreateFolder", nullptr, L"S-1-5-32-544", 0x1f01ff},
     kFolder + L"Data\\",
     kNative,
     L"(A;OICI;0x1f01ff;;;S-1-5-32-544) allow FILE_ALL_ACCESS to BUILTIN\\Administrators (S-1-5-32-544), on this "
     L"folder, its subfolders and files"},
    // Flag 2 alone: this folder only, not "no propagation".
    {{L"DATADIR", L"CreateFolder", nullptr, L"Guests", 0x100026, 2},
     kFolder + L"Data\\",
     kNative,
     L"(A;NP;0x100026;;;S-1-5-32-546) allow FILE_ADD_FILE|FILE_ADD_SUBDIRECTORY|FILE_TRAVERSE|SYNCHRONIZE to "
     L"BUILTIN\\Guests (S-1-5-32-546), on this folder only" +
         std::wstring(kOnlyNp)},
    {{L"Reg64", L"Registry", nullptr, L"[READERS]", 0x20019},
     kKey,
     kInProcess64,
     L"(A;OICI;0x20019;;;S-1-5-32-545) allow KEY_READ to BUILTIN\\Users (S-1-5-32-545), on this key and its subkeys"},
    {{L"Reg64", L"Registry", nullptr, L"Guests", 0x10006, 1},
     kKey,
     kInProcess64,
     L"(D;OICI;0x10006;;;S-1-5-32-546) deny KEY_SET_VALUE|KEY_CREATE_SUB_KEY|DELETE to BUILTIN\\Guests "
     L"(S-1-5-32-546), on this key and its subkeys"},
    // Flag 4 sends a key of a 64-bit component to the helper.
    {{L"Reg64", L"Registry", nullptr, L"Everyone", 0x10000000, 4},
     kKey,
     kHelper64,
     L"(A;OICI;0x10000000;;;S-1-1-0) allow GENERIC_ALL to Everyone (S-1-1-0), on this key and its subkeys"},
    {{L"Reg32", L"Registry", nullptr, L"Users", 0x20019},
     L"MACHINE\\Software\\Qelmora32",
     kHelper32,
     L"(A;NP;0x20019;;;S-1-5-32-545) allow KEY_READ to BUILTIN\\Users (S-1-5-32-545), on this key only" +
         std::wstring(kOnlyNp)},
    {{L"Svc64", L"ServiceInstall", nullptr, L"Users", 0x200b4},
     L"QXService",
     L"in process",
     L"(A;;0x200b4;;;S-1-5-32-545) allow SERVICE_QUERY_STATUS|SERVICE_START|SERVICE_STOP|SERVICE_INTERROGATE|"
     L"READ_CONTROL to BUILTIN\\Users (S-1-5-32-545), on this service only"},
    {{L"File64", L"File", L"QXNOWHERE", L"qxnobody", 0x40000001},
     kFolder + L"app.exe",
     kNative,
     L"allow FILE_READ_DATA|GENERIC_WRITE to QXNOWHERE\\qxnobody (resolved at install time: not found here, error "
     L"1332), on this file only"},
    {{L"Spare", L"File", nullptr, L"Users", 1},
     L"",
     nullptr,
     L"not applied: component 'Unfeatured' is not being installed"},
    {{L"DATADIR", L"CreateFolder", nullptr, L"Users", 1, 0, L"READERS = \"Guests\""},
     L"",
     nullptr,
     L"not applied: the condition 'READERS = \"Guests\"' is false"},
};

std::wstring Subject(const Row& row)
{
    return row[0].text + L"/" + row[1].text + L"/" + row[2].text + L"/" + row[3].text;
}

PackageParts WithRows(std::vector<Row> rows)
{
    PackageParts parts;
    parts.lockNames += L"\tCondition";
    parts.lockTypes += L"\tS255";
    parts.lockRows = std::move(rows);
    parts.sequence = Sequence(1010, 5849, 5850); // after InstallServices
    return parts;
}

PackageBuilder ExplainedPackage(const PackageParts& parts)
{
    PackageBuilder builder = CheckedPackage(parts);
    builder.Component(L"Unfeatured", 0x100, nullptr)
        .File(L"Spare", L"Unfeatured", L"spare.dll")
        .File(L"File32", L"Comp32", L"lib32.dll")
        .Registry(L"Locked64", 2, L"Software\\QXLockTests\\Explain64", L"MainComponent")
        .Registry(L"Locked32", 2, L"Software\\QXLockTests\\Explain32", L"Comp32");
    return builder;
}

// The tool's lines on explain.msi after each row's subject (a finding's "warning QXCnnn"
// has no slash), and its exit code: the installer's view gives the rows in an order of its own.
std::map<std::wstring, std::vector<std::wstring>> LinesByRow(const std::vector<std::wstring>& arguments, int& exitCode)
{
    std::map<std::wstring, std::vector<std::wstring>> lines;
    exitCode = qxcheck::RunLockCheck(
        arguments,
        [&](const std::wstring& line) {
            const std::size_t subject = line.find(L": ", 13);
            if (subject != std::wstring::npos && line.substr(13, subject - 13).find(L'/') != std::wstring::npos) {
                lines[line.substr(13, subject - 13)].push_back(line.substr(subject + 2));
            }
        },
        [](const std::wstring& line) { ADD_FAILURE() << std::string(line.begin(), line.end()); });
    return lines;
}

TEST(Explain, EachRowGivesItsLine)
{
    std::vector<Row> rows;
    for (const ExplainCase& c : kCases) {
        rows.push_back(c.row);
    }
    const auto package = ExplainedPackage(WithRows(rows)).Build(L"explain.msi");
    ASSERT_TRUE(package);
    int exitCode = -1;
    auto lines = LinesByRow({L"--explain", L"--property", L"READERS=Users", L"explain.msi"}, exitCode);
    EXPECT_EQ(0, exitCode);
    EXPECT_EQ(std::size(kCases), lines.size());
    for (const ExplainCase& c : kCases) {
        const std::wstring expected = c.where ? c.object + L" [" + c.where + L"]: " + c.entry : c.entry;
        EXPECT_EQ(std::vector<std::wstring>{expected}, lines[Subject(c.row)]);
    }
}

// Lists read in each key's view; only an entry the 64-bit library merges itself gives a list after.
TEST(Explain, CurrentListsNowAndAfterTheMerge)
{
    TestKey key64(L"Explain64", L"D:(A;OICI;KA;;;BA)(A;OICI;KR;;;WD)", KeyHive::Machine64);
    TestKey key32(L"Explain32", L"D:(A;OICI;KA;;;SY)", KeyHive::Machine32);
    const auto package = ExplainedPackage(WithRows({{L"Locked64", L"Registry", nullptr, L"Users", 0x20019},
                                                    {L"Locked64", L"Registry", nullptr, L"Guests", 0x10000, 1},
                                                    {L"Locked32", L"Registry", nullptr, L"Users", 0x20019},
                                                    {L"Reg64", L"Registry", nullptr, L"Users", 1}}))
                             .Build(L"explain.msi");
    ASSERT_TRUE(package);
    int exitCode = -1;
    auto lines = LinesByRow({L"--explain", L"--current", L"explain.msi"}, exitCode);
    using Lines = std::vector<std::wstring>;
    const std::wstring now64 = L"now D:(A;OICI;KA;;;BA)(A;OICI;KR;;;WD)";
    const struct {
        const wchar_t* subject;
        Lines lists; // the lines after the row's own
    } rowLists[] = {
        {L"Locked64/Registry//Users", {now64, L"after D:(A;OICI;KR;;;BU)(A;OICI;KA;;;BA)(A;OICI;KR;;;WD)"}},
        {L"Locked64/Registry//Guests", {now64, L"after D:(D;OICI;SD;;;BG)(A;OICI;KA;;;BA)(A;OICI;KR;;;WD)"}},
        {L"Locked32/Registry//Users", {L"now D:(A;OICI;KA;;;SY)"}}, // the helper's: nothing merged here
        {L"Reg64/Registry//Users", {L"now: not on this machine"}},
    };
    for (const auto& row : rowLists) {
        const Lines& got = lines[row.subject];
        EXPECT_EQ(row.lists, got.empty() ? got : Lines(got.begin() + 1, got.end())) << row.subject;
    }
    EXPECT_EQ(now64, L"now " + key64.Dacl()); // nothing was written
}

} // namespace
