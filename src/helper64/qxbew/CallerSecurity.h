// Who may call the helper's object: LocalSystem, Administrators and the account
// the helper runs as; COM refuses every other caller.
#pragma once

#include <windows.h>
#include <objbase.h>

// The process-wide COM security call; tests hand in a stand-in that records it.
using InitializeSecurityCall = decltype(&::CoInitializeSecurity);

// Sets the process's COM security to a descriptor that lets only those three
// call in. Its result, or the failure that kept the descriptor from being made.
HRESULT RestrictCallers(InitializeSecurityCall initialize = &::CoInitializeSecurity);
