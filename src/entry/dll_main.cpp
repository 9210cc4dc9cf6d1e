#include <windows.h>

#include "entry/module.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/)
{
    if (reason == DLL_PROCESS_ATTACH) {
        qx::g_hModule = instance;
    }
    return TRUE;
}
