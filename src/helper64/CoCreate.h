// Starting a COM server executable and binding to the object it registers in
// the running object table.
#pragma once

#include <windows.h>
#include <objbase.h>

#include "support/unique_any.h"

namespace qx {

// How long the bind waits for the started program to register, and how long an
// unwanted program gets to end before it is terminated. Production uses the
// defaults (100 attempts, 300 ms apart; 5 s); tests shorten them.
struct bind_polling {
    unsigned attempts = 100;
    DWORD delayMs = 300;
    DWORD endWaitMs = 5000;
};

} // namespace qx

// Starts path with the command line "<path> {CLSID}:{GUID}" (a new GUID per call)
// and binds to the object that the program registers under the item moniker
// "!" + GUID. 0x80070002 when the program cannot be started (an empty path
// included); otherwise the last bind failure, or the result of QueryInterface
// for iid into *out. On success *process holds the started program, which the
// caller ends with EndStartedProgram once it let go of the object; on failure the
// program has been ended already. Throws qx::error(E_OUTOFMEMORY) when a text
// cannot be allocated.
HRESULT CoCreateFromExecutable(const wchar_t* path, REFCLSID clsid, REFIID iid, void** out, qx::unique_handle* process,
                               const qx::bind_polling& polling = qx::bind_polling());

// Waits up to waitMs for the program to end and terminates it otherwise, so that
// no process outlives its use and its file can be deleted; the handle is closed.
void EndStartedProgram(qx::unique_handle& process, DWORD waitMs) noexcept;
