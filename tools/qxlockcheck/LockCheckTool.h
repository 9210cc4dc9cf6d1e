// QXLockCheck.exe without its console: the command line in, lines out, and the
// exit code.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "PackageCheck.h"

namespace qxcheck {

enum ExitCode : int {
    kExitClean = 0,    // no error (and, with --warnings-as-errors, no warning)
    kExitFindings = 1, // an error, or a warning under --warnings-as-errors
    kExitUnusable = 2, // a package cannot be read, or the command line is wrong
};

// Receives one line, without its line end.
using LineWriter = std::function<void(const std::wstring&)>;

// QXLockCheck.exe [--warnings-as-errors] [--explain [--current] [--property
// NAME=VALUE]...] PACKAGE.msi...: one line per finding on out (with --explain,
// then one line per lock row, and with --current its object's list now and after
// the merge), then "N errors, M warnings"; what keeps a package from being checked
// or explained, and the usage, on err.
int RunLockCheck(const std::vector<std::wstring>& arguments, const LineWriter& out, const LineWriter& err);

// PACKAGE.msi: error|warning QXCnnn: SUBJECT: MESSAGE
std::wstring FormatFinding(const std::wstring& package, const Finding& finding);

} // namespace qxcheck
