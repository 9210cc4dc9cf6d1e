// Joining paths and finding their roots.
#pragma once

#include "support/stringx.h"

// Appends part to path with exactly one separator between them.
void AppendPathPart(_stringx<>& path, const _stringx<>& part, wchar_t separator);
// A copy of first with second appended by AppendPathPart and a backslash.
_stringx<> CombinePath(const _stringx<>& first, const _stringx<>& second);
// "C:" or "\\server\share" (with a trailing backslash when asked for), or empty.
_stringx<> GetPathRoot(const _stringx<>& path, bool trailingBackslash);

namespace qx {

void add_backslash(_stringx<>& path);

} // namespace qx
