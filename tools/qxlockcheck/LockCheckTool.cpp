#include "LockCheckTool.h"

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include "msi/MsiHandle.h"
#include "support/error.h"
#include "support/system_message.h"

namespace qxcheck {

namespace {

const wchar_t kWarningsAsErrors[] = L"--warnings-as-errors";

void Usage(const LineWriter& write)
{
    write(L"usage: QXLockCheck.exe [--warnings-as-errors] PACKAGE.msi...");
    write(L"Checks each package's QXLockPermissions table, custom actions and sequence.");
    write(L"Exit code: 0 no error; 1 an error (or a warning with --warnings-as-errors);");
    write(L"2 a package cannot be read or the command line is wrong.");
}

// The package's findings; false, with the reason on err, when it cannot be read.
bool CheckOnePackage(const std::wstring& package, std::vector<Finding>& findings, const LineWriter& err)
{
    qx::unique_msihandle database;
    const UINT result = ::MsiOpenDatabaseW(package.c_str(), MSIDBOPEN_READONLY, database.put());
    if (result != ERROR_SUCCESS) {
        err(package + L": cannot be read: MsiOpenDatabase failed with error " + std::to_wstring(result) + L": " +
            qx::system_message(result).c_str());
        return false;
    }
    try {
        findings = CheckPackage(database.get());
    } catch (const qx::installer_error& error) {
        err(package + L": cannot be read: " + error.message().c_str());
        return false;
    }
    return true;
}

} // namespace

std::wstring FormatFinding(const std::wstring& package, const Finding& finding)
{
    return package + L": " + SeverityAndCode(finding) + L": " + finding.subject + L": " + finding.message;
}

int RunLockCheck(const std::vector<std::wstring>& arguments, const LineWriter& out, const LineWriter& err)
{
    bool warningsAsErrors = false;
    std::vector<std::wstring> packages;
    for (const std::wstring& argument : arguments) {
        if (argument == kWarningsAsErrors) {
            warningsAsErrors = true;
        } else if (argument == L"--help" || argument == L"-h" || argument == L"/?") {
            Usage(out);
            return kExitClean;
        } else if (argument.compare(0, 2, L"--") == 0) {
            err(L"QXLockCheck: unknown option " + argument);
            Usage(err);
            return kExitUnusable;
        } else {
            packages.push_back(argument);
        }
    }
    if (packages.empty()) {
        err(L"QXLockCheck: no package given");
        Usage(err);
        return kExitUnusable;
    }

    bool allRead = true;
    std::size_t errors = 0;
    std::size_t warnings = 0;
    for (const std::wstring& package : packages) {
        std::vector<Finding> findings;
        if (!CheckOnePackage(package, findings, err)) {
            allRead = false;
            continue;
        }
        for (const Finding& finding : findings) {
            out(FormatFinding(package, finding));
            ++(finding.severity == Severity::Error ? errors : warnings);
        }
    }
    out(std::to_wstring(errors) + L" errors, " + std::to_wstring(warnings) + L" warnings");
    if (!allRead) {
        return kExitUnusable;
    }
    return errors > 0 || (warningsAsErrors && warnings > 0) ? kExitFindings : kExitClean;
}

} // namespace qxcheck
