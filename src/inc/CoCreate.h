// Starting a COM server executable and binding to the object it registers in
// the running object table.
#pragma once

#include <windows.h>
#include <objbase.h>

namespace qx {

// How long the bind waits for the started program to register. Production uses
// the defaults (100 attempts, 300 ms apart); tests shorten them.
struct bind_polling {
    unsigned attempts = 100;
    DWORD delayMs = 300;
};

} // namespace qx

// Starts path with the command line "<path> {CLSID}:{GUID}" (a new GUID per call)
// and binds to the object that the program registers under the item moniker
// "!" + GUID. 0x80070002 when the program cannot be started (an empty path
// included); otherwise the last bind failure, or the result of QueryInterface
// for iid into *out. Throws CAtlException(E_OUTOFMEMORY) when a text cannot be
// allocated. A started program that never registers is left to end by itself.
HRESULT CoCreateFromExecutable(const wchar_t* path, REFCLSID clsid, REFIID iid, void** out,
                               const qx::bind_polling& polling = qx::bind_polling());
