#include "helper64/ResourceTemplate.h"

#include "support/unique_any.h"

namespace {

constexpr DWORD kNamedResource = 0xFFFFFFFF;

} // namespace

CResourceTemplate::CResourceTemplate(const wchar_t* name, const wchar_t* type, HMODULE module)
    : m_strType(type), m_strName(name), m_hModule(module)
{
}

bool CResourceTemplate::ExtractToFile(_stringx<>& path)
{
    HRSRC resource;
    // The helper's resource is named by name and type: the two integer branches
    // serve resources that the template can describe but no caller asks for.
    if (m_bIntegerType) {
        resource = ::FindResourceW(m_hModule, m_strName.c_str(), MAKEINTRESOURCEW(LOWORD(m_nResourceId)));
    } else {
        const wchar_t* name =
            m_nResourceId == kNamedResource ? m_strName.c_str() : MAKEINTRESOURCEW(LOWORD(m_nResourceId));
        resource = ::FindResourceW(m_hModule, name, m_strType.c_str());
    }
    if (!resource) {
        return false;
    }
    HGLOBAL loaded = ::LoadResource(m_hModule, resource);
    if (!loaded) {
        return false;
    }
    DWORD size = ::SizeofResource(m_hModule, resource);

    if (path.empty()) {
        wchar_t folder[MAX_PATH] = {};
        wchar_t file[MAX_PATH] = {};
        if (!::GetTempPathW(MAX_PATH, folder) || !::GetTempFileNameW(folder, L"wac", 0, file)) {
            return false;
        }
        path = file;
    }

    qx::unique_file target(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!target) {
        return false;
    }
    DWORD written = 0;
    ::WriteFile(target.get(), ::LockResource(loaded), size, &written, nullptr);
    return true;
}
