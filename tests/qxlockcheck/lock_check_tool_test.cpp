// QXLockCheck's command line: exit code and lines, on packages in the working folder so the lines name them as given.
#include <gtest/gtest.h>

#include "CheckedPackage.h"
#include "LockCheckTool.h"

using namespace qxtest;

namespace {

struct ToolCase {
    std::vector<std::wstring> arguments;
    int exitCode;
    std::vector<std::wstring> out, err; // beginnings of the lines, in order
};

const wchar_t kUsage[] =
    L"usage: QXLockCheck.exe [--warnings-as-errors] [--explain [--current] [--property NAME=VALUE]...] PACKAGE.msi...";
const wchar_t kWarning[] = L"warning.msi: warning QXC102: Error: the Error table has no message 27555";
const wchar_t kError[] = L"error.msi: error QXC010: CustomAction: no custom action is named";

const ToolCase kToolCases[] = {
    {{L"clean.msi"}, 0, {L"0 errors, 0 warnings"}, {}},
    {{L"warning.msi"}, 0, {kWarning, L"0 errors, 1 warnings"}, {}},
    {{L"warning.msi", L"--warnings-as-errors"}, 1, {kWarning, L"0 errors, 1 warnings"}, {}},
    {{L"--warnings-as-errors", L"clean.msi"}, 0, {L"0 errors, 0 warnings"}, {}},
    {{L"error.msi", L"clean.msi", L"warning.msi"}, 1, {kError, kWarning, L"1 errors, 1 warnings"}, {}},
    // The others are checked; the exit code says that one was not.
    {{L"missing.msi", L"error.msi"}, 2, {kError, L"1 errors, 0 warnings"}, {L"missing.msi: cannot be read: "}},
    {{L"unreadable.msi"}, 2, {L"0 errors, 0 warnings"}, {L"unreadable.msi: cannot be read: "}},
    {{}, 2, {}, {L"QXLockCheck: no package given", kUsage, L"", L"", L"", L"", L""}},
    {{L"--strict", L"clean.msi"}, 2, {}, {L"QXLockCheck: unknown option --strict", kUsage, L"", L"", L"", L"", L""}},
    {{L"--help"}, 0, {kUsage, L"", L"", L"", L"", L""}, {}},
    // The rows' lines follow the findings; the exit code stays the findings'.
    {{L"--explain", L"stops.msi"},
     1,
     {L"stops.msi: error QXC003: NoFile/File//Users: ",
      L"stops.msi: NoFile/File//Users: costing stops at this row and the installation fails: Failed to query File "
      L"table for permissions on 'NoFile' (error 259)",
      L"1 errors, 0 warnings"},
     {}},
    {{L"--explain", L"--property", L"=1", L"clean.msi"},
     2,
     {},
     {L"QXLockCheck: --property needs NAME=VALUE, not '=1'", kUsage, L"", L"", L"", L"", L""}},
    {{L"--current", L"clean.msi"},
     2,
     {},
     {L"QXLockCheck: --current and --property go with --explain", kUsage, L"", L"", L"", L"", L""}},
};

// The lines, each cut to the length of the beginning expected of it.
std::vector<std::wstring> Cut(std::vector<std::wstring> lines, const std::vector<std::wstring>& beginnings)
{
    for (std::size_t i = 0; i < lines.size() && i < beginnings.size(); ++i) {
        lines[i] = lines[i].substr(0, beginnings[i].size());
    }
    return lines;
}

TEST(LockCheckTool, LinesAndExitCode)
{
    PackageParts warning, error, stops;
    warning.errors.clear();
    stops.lockRows = {{L"NoFile", L"File", nullptr, L"Users", 1}};
    error.actions.pop_back();  // the install action
    PackageBuilder unreadable; // every package's File table has Component_
    unreadable.Columns(L"File", L"File", L"s72", L"File").Rows(L"File", {{L"F"}});
    const std::unique_ptr<Package> packages[] = {
        CheckedPackage(PackageParts()).Build(L"clean.msi"), CheckedPackage(warning).Build(L"warning.msi"),
        CheckedPackage(error).Build(L"error.msi"), CheckedPackage(stops).Build(L"stops.msi"),
        unreadable.Build(L"unreadable.msi")};
    for (const ToolCase& c : kToolCases) {
        SCOPED_TRACE(&c - kToolCases);
        std::vector<std::wstring> out, err;
        EXPECT_EQ(c.exitCode, qxcheck::RunLockCheck(
                                  c.arguments, [&](const std::wstring& line) { out.push_back(line); },
                                  [&](const std::wstring& line) { err.push_back(line); }));
        EXPECT_EQ(c.out, Cut(out, c.out));
        EXPECT_EQ(c.err, Cut(err, c.err));
    }
}

} // namespace
