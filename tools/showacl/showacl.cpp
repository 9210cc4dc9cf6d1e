// Prints the access list (DACL) of registry keys, files and folders, one line
// per entry with the account's name, so that scripts can show and check what an
// installation did to an object's security.
//
//   showacl registry:MACHINE\SOFTWARE\Vendor\Key file:C:\Path\To\File ...
//   showacl --set registry:NAME|file:PATH SDDL
//
// The second form replaces an object's DACL (and its protection state) by the one
// of the security descriptor text, for tests that need an object with a known list.
//
// For each object: the object as given on a line of its own, then one line per
// entry: TAB type TAB account TAB mask TAB inheritance flags. Exits 1 when an
// object could not be read (after printing the others), 2 on bad arguments.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>

#include "support/sids.h"
#include "support/unique_any.h"

namespace {

void Write(const std::wstring& text)
{
    int size =
        ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    if (size <= 0) {
        return;
    }
    std::string utf8(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &utf8[0], size, nullptr, nullptr);
    std::fwrite(utf8.data(), 1, utf8.size(), stdout);
}

std::wstring Hex(DWORD value)
{
    wchar_t text[16] = {};
    std::swprintf(text, 16, L"0x%08lx", static_cast<unsigned long>(value));
    return text;
}

// DOMAIN\name, or the SID string when the account has no name here.
std::wstring AccountName(PSID sid)
{
    const std::wstring name = qx::account_name_of(sid);
    if (!name.empty()) {
        return name;
    }
    qx::unique_local<wchar_t> text;
    if (::ConvertSidToStringSidW(sid, text.put())) {
        return text.get();
    }
    return L"(unreadable SID)";
}

std::wstring InheritanceFlags(BYTE flags)
{
    const struct {
        BYTE bit;
        const wchar_t* word;
    } names[] = {
        {OBJECT_INHERIT_ACE, L"OI"}, {CONTAINER_INHERIT_ACE, L"CI"}, {NO_PROPAGATE_INHERIT_ACE, L"NP"},
        {INHERIT_ONLY_ACE, L"IO"},   {INHERITED_ACE, L"ID"},
    };
    std::wstring text;
    for (const auto& name : names) {
        if ((flags & name.bit) != 0) {
            text += (text.empty() ? L"" : L" ") + std::wstring(name.word);
        }
    }
    return text.empty() ? L"-" : text;
}

std::wstring EntryLine(const ACE_HEADER* header)
{
    std::wstring type;
    PSID sid = nullptr;
    DWORD mask = 0;
    if (header->AceType == ACCESS_ALLOWED_ACE_TYPE) {
        const auto* ace = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header);
        type = L"allow";
        mask = ace->Mask;
        sid = const_cast<DWORD*>(&ace->SidStart);
    } else if (header->AceType == ACCESS_DENIED_ACE_TYPE) {
        const auto* ace = reinterpret_cast<const ACCESS_DENIED_ACE*>(header);
        type = L"deny";
        mask = ace->Mask;
        sid = const_cast<DWORD*>(&ace->SidStart);
    } else {
        return L"\ttype " + std::to_wstring(header->AceType) + L"\t-\t-\t" + InheritanceFlags(header->AceFlags);
    }
    return L"\t" + type + L"\t" + AccountName(sid) + L"\t" + Hex(mask) + L"\t" + InheritanceFlags(header->AceFlags);
}

// The object an argument names; false (after a message) when it names none.
bool ParseObject(const std::wstring& argument, SE_OBJECT_TYPE& type, std::wstring& name)
{
    const std::wstring registryPrefix = L"registry:";
    const std::wstring filePrefix = L"file:";
    if (argument.compare(0, registryPrefix.size(), registryPrefix) == 0) {
        type = SE_REGISTRY_KEY;
        name = argument.substr(registryPrefix.size());
    } else if (argument.compare(0, filePrefix.size(), filePrefix) == 0) {
        type = SE_FILE_OBJECT;
        name = argument.substr(filePrefix.size());
    } else {
        std::fwprintf(stderr, L"showacl: %ls: say registry:NAME or file:PATH\n", argument.c_str());
        return false;
    }
    return true;
}

// Replaces the object's DACL by the one of the text; false after a message.
bool SetObject(const std::wstring& argument, const std::wstring& sddl)
{
    SE_OBJECT_TYPE type = SE_UNKNOWN_OBJECT_TYPE;
    std::wstring name;
    if (!ParseObject(argument, type, name)) {
        return false;
    }
    qx::unique_local<void> descriptor;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, descriptor.put(),
                                                                nullptr) ||
        !::GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted) ||
        !::GetSecurityDescriptorControl(descriptor.get(), &control, &revision)) {
        std::fwprintf(stderr, L"showacl: %ls: not a descriptor (error %lu)\n", sddl.c_str(), ::GetLastError());
        return false;
    }
    const SECURITY_INFORMATION information =
        DACL_SECURITY_INFORMATION | ((control & SE_DACL_PROTECTED) != 0 ? PROTECTED_DACL_SECURITY_INFORMATION
                                                                        : UNPROTECTED_DACL_SECURITY_INFORMATION);
    DWORD result = ::SetNamedSecurityInfoW(&name[0], type, information, nullptr, nullptr, dacl, nullptr);
    if (result != ERROR_SUCCESS) {
        std::fwprintf(stderr, L"showacl: %ls: not written (error %lu)\n", argument.c_str(), result);
        return false;
    }
    return true;
}

// Prints one object; false when its access list could not be read.
bool ShowObject(const std::wstring& argument)
{
    SE_OBJECT_TYPE type = SE_UNKNOWN_OBJECT_TYPE;
    std::wstring name;
    if (!ParseObject(argument, type, name)) {
        return false;
    }

    Write(argument + L"\n");
    qx::unique_local<void> descriptor;
    PACL dacl = nullptr; // points into the descriptor
    DWORD result = ::GetNamedSecurityInfoW(&name[0], type, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                                           descriptor.put());
    if (result != ERROR_SUCCESS) {
        Write(L"\t(not readable: error " + std::to_wstring(result) + L")\n");
        return false;
    }
    if (!dacl) {
        Write(L"\t(no DACL: everyone has full access)\n");
        return true;
    }
    if (dacl->AceCount == 0) {
        Write(L"\t(empty DACL: no one has access)\n");
        return true;
    }
    for (WORD index = 0; index < dacl->AceCount; ++index) {
        void* ace = nullptr;
        if (!::GetAce(dacl, index, &ace)) {
            Write(L"\t(entry " + std::to_wstring(index) + L" not readable)\n");
            return false;
        }
        Write(EntryLine(static_cast<const ACE_HEADER*>(ace)) + L"\n");
    }
    return true;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    // Plain LF lines: the reader is a Unix shell.
    _setmode(_fileno(stdout), _O_BINARY);
    if (argc < 2) {
        std::fwprintf(stderr, L"usage: showacl registry:NAME | file:PATH ...\n"
                              L"       showacl --set registry:NAME | file:PATH SDDL\n");
        return 2;
    }
    if (std::wstring(argv[1]) == L"--set") {
        return argc == 4 && SetObject(argv[2], argv[3]) ? 0 : 2;
    }
    bool allRead = true;
    for (int index = 1; index < argc; ++index) {
        allRead = ShowObject(argv[index]) && allRead;
    }
    std::fflush(stdout);
    return allRead ? 0 : 1;
}
