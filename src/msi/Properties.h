// Texts of the running installation, of any length: formatted text, properties
// and target paths.
#pragma once

#include <windows.h>
#include <msi.h>

#include "support/stringx.h"

// The text with its property references ([NAME]) expanded; a text without "[" is
// returned unchanged without asking the installer, one it cannot format comes back empty.
_stringx<> FormatInstallerText(MSIHANDLE hInstall, const _stringx<>& text);
// The property's value; empty when it is not set.
_stringx<> GetProperty(MSIHANDLE hInstall, const wchar_t* name);
// The directory's target path, with its trailing backslash, into path; not cut at
// 260 characters. The installer's result: a directory it cannot resolve fails.
UINT GetTargetPath(MSIHANDLE hInstall, const _stringx<>& directory, _stringx<>& path);
