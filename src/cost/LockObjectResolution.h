// Turning lock table rows into object names: file paths, folder paths, registry keys.
#pragma once

#include <windows.h>
#include <winnetwk.h>

#include "support/stringx.h"

// Registry root words as the named-security functions expect them.
extern const _stringx<> g_strRootClassesRoot;
extern const _stringx<> g_strRootMachine;
extern const _stringx<> g_strRootUsers;

// The system calls behind ConvertToUniversalPath; tests substitute them, since no
// drive can be made to look remote in every test environment.
struct UniversalNameCalls {
    decltype(&::GetDriveTypeW) getDriveType = &::GetDriveTypeW;
    decltype(&::WNetGetUniversalNameW) getUniversalName = &::WNetGetUniversalNameW;
};

// Replaces a path on a mapped network drive by its universal name (\\server\share\...).
void ConvertToUniversalPath(_stringx<>& path, const UniversalNameCalls& calls = UniversalNameCalls());
