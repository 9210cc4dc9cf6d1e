// Packages for the checker's tests: one that uses the library as the authoring
// files do and checks clean, and the parts a case changes to break it.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "PackageBuilder.h"

namespace qxtest {

constexpr unsigned kMachineX86 = 0x014C;
constexpr unsigned kMachineX64 = 0x8664;

// The first bytes of a Windows image for the machine: a DOS header that points
// to a PE file header, marked a DLL or not. All the checker reads of a library.
std::string ImageHead(unsigned machine, bool dll = true);

// The built 64-bit library beside the test program.
std::string BuiltLibrary();

struct PackageParts {
    std::optional<Row> costAction;
    std::optional<Row> rollbackAction;
    std::optional<Row> installAction;
    // InstallExecuteSequence rows besides the standard actions the package has.
    std::vector<Row> sequence;
    // The Binary row's stream; none: no Binary row.
    std::optional<std::string> library;
    bool errorMessage = true;
    bool lockTable = true;
    std::vector<Row> lockRows;
    // Objects and tables of a case's own.
    std::function<void(PackageBuilder&)> extra;

    // What the authoring files give, with the 64-bit library and one lock row of each kind.
    PackageParts();
};

// MainComponent (64-bit) holds the file File64, the folder DATADIR (a CreateFolder
// row) and the key Reg64; Comp32, without the 64-bit attribute, holds the key
// Reg32; INSTALLDIR has no CreateFolder row.
PackageBuilder CheckedPackage(const PackageParts& parts);

} // namespace qxtest
