// The benchmark's package: N lock table rows over files of 100 components, plus
// folders and registry keys, written by the tests' package builder. Each object
// takes one lock row, or several in a row with different accounts.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "PackageBuilder.h"

namespace qxbench {

constexpr int kComponents = 100;
// The start of the name of the key under HKLM\Software that holds a package's keys.
extern const wchar_t kRegistryParent[];

// Which table an object comes from: one object in ten a folder, one in ten a
// registry key, the rest files.
enum class RowKind { File, Folder, Registry };
RowKind KindOfObject(int object);
// The object's key into the File, CreateFolder or Registry table.
std::wstring ObjectKey(int object);

// Writes the package into folder (which must exist); null, after printing why, when
// msi.dll refused it. Lock rows k * rowsPerObject and on name object k, each with
// the next of three accounts. Its keys are under HKLM\Software\<registryParent>.
std::unique_ptr<qxtest::Package> WritePackage(const std::wstring& folder, int rows, int rowsPerObject,
                                              const std::wstring& registryParent);

// Recursively deletes a folder and everything in it; best effort.
void DeleteTree(const std::wstring& folder);

} // namespace qxbench
