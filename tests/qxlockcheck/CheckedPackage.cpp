#include "CheckedPackage.h"

#include <windows.h>

#include "support/unique_any.h"

namespace qxtest {

namespace {

const wchar_t kBinaryName[] = L"QXLockPermissions.dll";

} // namespace

std::string ImageHead(unsigned machine, bool dll)
{
    std::string head(128, '\0');
    head[0] = 'M';
    head[1] = 'Z';
    head[0x3C] = 0x40; // the PE header's offset
    head.replace(0x40, 4, std::string("PE\0\0", 4));
    head[0x44] = static_cast<char>(machine & 0xFF);
    head[0x45] = static_cast<char>(machine >> 8);
    // Characteristics: executable, and a DLL when asked.
    head[0x56] = 0x02;
    head[0x57] = dll ? 0x20 : 0x00;
    return head;
}

std::string BuiltLibrary()
{
    wchar_t path[MAX_PATH] = {};
    std::wstring folder(path, ::GetModuleFileNameW(nullptr, path, MAX_PATH));
    folder.resize(folder.find_last_of(L"\\/") + 1);
    qx::unique_file file(::CreateFileW((folder + L"QXLockPermissions.dll").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string bytes;
    char buffer[65536];
    DWORD read = 0;
    while (file && ::ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) {
        bytes.append(buffer, read);
    }
    return bytes;
}

PackageParts::PackageParts()
    : costAction(Row{L"QXLockPermissionsCost", 1, kBinaryName, L"QXLockPermissionsCostAction"}),
      rollbackAction(Row{L"QXLockPermissionsRollback", 3329, kBinaryName, L"QXLockPermissionsRollbackAction"}),
      installAction(Row{L"QXLockPermissionsInstall", 3073, kBinaryName, L"QXLockPermissionsInstallAction"}),
      sequence{{L"QXLockPermissionsCost", nullptr, 1010},
               {L"QXLockPermissionsRollback", nullptr, 5049},
               {L"QXLockPermissionsInstall", nullptr, 5050}},
      library(ImageHead(kMachineX64)), lockRows{{L"File64", L"File", nullptr, L"Users", 1179817, nullptr},
                                                {L"DATADIR", L"CreateFolder", nullptr, L"S-1-5-32-544", 2032127, 2},
                                                {L"Reg64", L"Registry", nullptr, L"[READERS]", 131097, 1},
                                                {L"File64", L"file", L"BUILTIN", L"Guests", 1179785, 5}}
{
}

PackageBuilder CheckedPackage(const PackageParts& parts)
{
    PackageBuilder builder;
    builder.Component(L"Comp32", 0)
        .File(L"File64", L"MainComponent", L"app.exe")
        .Rows(L"Directory", {{L"DATADIR", L"INSTALLDIR", L"Data"}})
        .Rows(L"CreateFolder", {{L"DATADIR", L"MainComponent"}})
        .Registry(L"Reg64", 2, L"Software\\Qelmora", L"MainComponent")
        .Registry(L"Reg32", 2, L"Software\\Qelmora32", L"Comp32")
        .Property(L"READERS", L"Authenticated Users")
        .Rows(L"InstallExecuteSequence", {{L"CostInitialize", nullptr, 800},
                                          {L"FileCost", nullptr, 900},
                                          {L"CostFinalize", nullptr, 1000},
                                          {L"InstallValidate", nullptr, 1400},
                                          {L"InstallInitialize", nullptr, 1500},
                                          {L"CreateFolders", nullptr, 3700},
                                          {L"InstallFiles", nullptr, 4000},
                                          {L"WriteRegistryValues", nullptr, 5000},
                                          {L"InstallFinalize", nullptr, 6600}})
        .Rows(L"InstallExecuteSequence", parts.sequence)
        .Rows(L"CustomAction", {});
    if (parts.costAction) {
        builder.Rows(L"CustomAction", {*parts.costAction});
    }
    if (parts.rollbackAction) {
        builder.Rows(L"CustomAction", {*parts.rollbackAction});
    }
    if (parts.installAction) {
        builder.Rows(L"CustomAction", {*parts.installAction});
    }
    if (parts.library) {
        builder.Binary(kBinaryName, *parts.library);
    }
    if (parts.errorMessage) {
        builder.Rows(L"Error", {{27555, L"Could not set permissions on [2]: [3] (error [4])."}});
    }
    if (parts.lockTable) {
        builder.Rows(L"QXLockPermissions", parts.lockRows);
    }
    if (parts.extra) {
        parts.extra(builder);
    }
    return builder;
}

} // namespace qxtest
