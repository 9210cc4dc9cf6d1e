// The one argument of the helper executable: "{CLSID}:{GUID}".
#pragma once

#include <windows.h>

#include <string>

struct HelperArguments {
    CLSID clsid = {};          // the class the helper is asked to serve
    std::wstring instanceText; // the braced GUID that names its registration
};

// Takes the last blank-separated token of the whole command line; the program
// path before it may hold blanks and may be quoted. False when that token is
// not two braced GUIDs joined by a colon.
bool ParseHelperCommandLine(const wchar_t* commandLine, HelperArguments& arguments);
