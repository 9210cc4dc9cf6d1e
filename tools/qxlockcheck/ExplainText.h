// The words of QXLockCheck --explain: what a row comes to, in the lines an author reads.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "ExplainRows.h"

namespace qxcheck {

// The row's line, "SUBJECT: OBJECT [WHERE]: ENTRY" or "SUBJECT: " and why it does not
// apply, then, when the list was read, "SUBJECT: now SDDL" and "SUBJECT: after SDDL".
std::vector<std::wstring> ExplainLines(const ExplainedRow& row);

} // namespace qxcheck
