#include "LockCheckTool.h"

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include "ExplainRows.h"
#include "ExplainText.h"
#include "msi/MsiHandle.h"
#include "support/error.h"
#include "support/system_message.h"

namespace qxcheck {

namespace {

const wchar_t kWarningsAsErrors[] = L"--warnings-as-errors";
const wchar_t kExplain[] = L"--explain";
const wchar_t kCurrent[] = L"--current";
const wchar_t kProperty[] = L"--property";

void Usage(const LineWriter& write)
{
    write(L"usage: QXLockCheck.exe [--warnings-as-errors] [--explain [--current] [--property NAME=VALUE]...] "
          L"PACKAGE.msi...");
    write(L"Checks each package's QXLockPermissions table, custom actions and sequence.");
    write(L"--explain: then costs the package as a full installation on this machine would and says what each");
    write(L"lock row comes to; --current adds each object's access list now and after the merge.");
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

// The rows' lines after the package's findings; false, with the reason on err, when
// the package cannot be costed.
bool ExplainOnePackage(const std::wstring& package, const std::vector<PropertySetting>& properties, bool current,
                       const LineWriter& out, const LineWriter& err)
{
    std::vector<ExplainedRow> rows;
    try {
        rows = ExplainRows(package, properties, current);
    } catch (const qx::error& error) {
        err(package + L": cannot be explained: " + error.message().c_str());
        return false;
    }
    for (const ExplainedRow& row : rows) {
        for (const std::wstring& line : ExplainLines(row)) {
            out(package + L": " + line);
        }
    }
    return true;
}

// The command line, or false with the complaint on err.
struct Options {
    bool warningsAsErrors = false;
    bool explain = false;
    bool current = false;
    bool help = false;
    std::vector<PropertySetting> properties;
    std::vector<std::wstring> packages;
};

bool ParseOptions(const std::vector<std::wstring>& arguments, Options& options, const LineWriter& err)
{
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::wstring& argument = arguments[i];
        if (argument == kWarningsAsErrors) {
            options.warningsAsErrors = true;
        } else if (argument == kExplain) {
            options.explain = true;
        } else if (argument == kCurrent) {
            options.current = true;
        } else if (argument == kProperty) {
            const std::wstring setting = i + 1 < arguments.size() ? arguments[++i] : std::wstring();
            const std::size_t equals = setting.find(L'=');
            if (equals == 0 || equals == std::wstring::npos) {
                err(L"QXLockCheck: --property needs NAME=VALUE, not '" + setting + L"'");
                return false;
            }
            options.properties.emplace_back(setting.substr(0, equals), setting.substr(equals + 1));
        } else if (argument == L"--help" || argument == L"-h" || argument == L"/?") {
            options.help = true;
            return true;
        } else if (argument.compare(0, 2, L"--") == 0) {
            err(L"QXLockCheck: unknown option " + argument);
            return false;
        } else {
            options.packages.push_back(argument);
        }
    }
    if ((options.current || !options.properties.empty()) && !options.explain) {
        err(L"QXLockCheck: --current and --property go with --explain");
        return false;
    }
    if (options.packages.empty()) {
        err(L"QXLockCheck: no package given");
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
    Options options;
    if (!ParseOptions(arguments, options, err)) {
        Usage(err);
        return kExitUnusable;
    }
    if (options.help) {
        Usage(out);
        return kExitClean;
    }

    bool allRead = true;
    std::size_t errors = 0;
    std::size_t warnings = 0;
    for (const std::wstring& package : options.packages) {
        std::vector<Finding> findings;
        if (!CheckOnePackage(package, findings, err)) {
            allRead = false;
            continue;
        }
        for (const Finding& finding : findings) {
            out(FormatFinding(package, finding));
            ++(finding.severity == Severity::Error ? errors : warnings);
        }
        if (options.explain && !ExplainOnePackage(package, options.properties, options.current, out, err)) {
            allRead = false;
        }
    }
    out(std::to_wstring(errors) + L" errors, " + std::to_wstring(warnings) + L" warnings");
    if (!allRead) {
        return kExitUnusable;
    }
    return errors > 0 || (options.warningsAsErrors && warnings > 0) ? kExitFindings : kExitClean;
}

} // namespace qxcheck
