// One resource of one module, copied out into a file.
#pragma once

#include <windows.h>

#include "support/stringx.h"

class CResourceTemplate {
public:
    // A null name or type counts as empty. The module is not owned.
    CResourceTemplate(const wchar_t* name, const wchar_t* type, HMODULE module);
    virtual ~CResourceTemplate() = default;

    // Writes the resource into path, replacing an existing file. An empty path is
    // filled with a new "wac" temporary file name first.
    bool ExtractToFile(_stringx<>& path);

    DWORD m_nResourceId = 0xFFFFFFFF; // all ones: m_strName names the resource
    _stringx<> m_strType;
    _stringx<> m_strName;
    HMODULE m_hModule;
    bool m_bIntegerType = false; // m_nResourceId names the type instead of the resource
};
