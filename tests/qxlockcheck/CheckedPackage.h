// The package the authoring files make, which checks clean, in the parts a test breaks.
#pragma once

#include "PackageBuilder.h"

namespace qxtest {

// The first bytes of a Windows image for the machine, marked a DLL or not: all the checker reads of a library.
inline std::string ImageHead(unsigned machine, bool dll = true)
{
    std::string head = "MZ" + std::string(126, '\0');
    head[0x3C] = 0x40; // where the PE header starts
    head.replace(0x40, 6, std::string("PE\0\0", 4) + static_cast<char>(machine) + static_cast<char>(machine >> 8));
    head[0x57] = dll ? '\x20' : '\0'; // IMAGE_FILE_DLL in the characteristics
    return head;
}

// The library's actions, and the standard ones the checker orders them against.
inline std::vector<Row> Sequence(int cost, int rollback, int install)
{
    return {{L"CostFinalize", nullptr, 1000},
            {L"CreateFolders", nullptr, 3700},
            {L"InstallFiles", nullptr, 4000},
            {L"WriteRegistryValues", nullptr, 5000},
            {L"InstallServices", nullptr, 5800},
            {L"InstallFinalize", nullptr, 6600},
            {L"QXLockPermissionsCost", nullptr, cost},
            {L"QXLockPermissionsRollback", nullptr, rollback},
            {L"QXLockPermissionsInstall", nullptr, install}};
}

enum ActionIndex { kCost, kRollback, kInstall }; // in PackageParts::actions

struct PackageParts {
    std::vector<Row> actions{
        {L"QXLockPermissionsCost", 1, L"QXLockPermissions.dll", L"QXLockPermissionsCostAction"},
        {L"QXLockPermissionsRollback", 3329, L"QXLockPermissions.dll", L"QXLockPermissionsRollbackAction"},
        {L"QXLockPermissionsInstall", 3073, L"QXLockPermissions.dll", L"QXLockPermissionsInstallAction"}};
    std::vector<Row> sequence = Sequence(1010, 5049, 5050);
    std::string library = ImageHead(0x8664); // the Binary row's stream; empty: no Binary row
    std::vector<Row> errors{{27555, L"Could not set permissions on [2]: [3] (error [4])."}};
    std::wstring lockNames = L"LockObject\tTable\tDomain\tUser\tPermission\tFlags";
    std::wstring lockTypes = L"s72\ts32\tS255\ts255\ti4\tI4"; // empty: no lock table
    // One row of each kind, in forms an author may write them.
    std::vector<Row> lockRows{{L"File64", L"File", nullptr, L"Users", 1179817},
                              {L"DATADIR", L"CreateFolder", nullptr, L"S-1-5-32-544", 2032127, 2},
                              {L"Reg64", L"Registry", nullptr, L"[READERS]", 131097, 1},
                              {L"File64", L"file", L"BUILTIN", L"Guests", 1179785, 5}};
    std::vector<Row> createFolders{{L"DATADIR", L"MainComponent"}};
};

// MainComponent (64-bit) holds the file File64, the folder DATADIR, the key Reg64 and the service Svc64;
// Comp32 the key Reg32.
// Ghost (no component), Root4 (root 4) and Shellex ('*' in its key) are there for rows that break.
inline PackageBuilder CheckedPackage(const PackageParts& parts)
{
    PackageBuilder builder;
    builder.Component(L"Comp32", 0)
        .File(L"File64", L"MainComponent", L"app.exe")
        .File(L"Ghost", L"NoComponent", L"ghost.dll")
        .Rows(L"Directory", {{L"DATADIR", L"INSTALLDIR", L"Data"}})
        .Rows(L"CreateFolder", parts.createFolders)
        .Service(L"Svc64", L"QXService", L"MainComponent")
        .Registry(L"Reg64", 2, L"Software\\Qelmora", L"MainComponent")
        .Registry(L"Reg32", 2, L"Software\\Qelmora32", L"Comp32")
        .Registry(L"Root4", 4, L"Software\\Qelmora", L"MainComponent")
        .Registry(L"Shellex", 0, L"*\\shellex\\Qelmora", L"MainComponent")
        .Rows(L"InstallExecuteSequence", parts.sequence)
        .Rows(L"CustomAction", parts.actions)
        .Rows(L"Error", parts.errors);
    if (!parts.library.empty()) {
        builder.Binary(L"QXLockPermissions.dll", parts.library);
    }
    if (!parts.lockTypes.empty()) {
        builder.Columns(L"QXLockPermissions", parts.lockNames, parts.lockTypes, L"LockObject\tTable\tDomain\tUser");
        builder.Rows(L"QXLockPermissions", parts.lockRows);
    }
    return builder;
}

} // namespace qxtest
