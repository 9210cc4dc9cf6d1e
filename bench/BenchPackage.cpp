#include "BenchPackage.h"

#include <msidefs.h>

#include <cstdio>

#include "PackageBuilder.h"
#include "support/unique_any.h"

namespace qxbench {

const wchar_t kRegistryParent[] = L"QXLockBench";

namespace {

// Accounts of the well-known table, so that no row waits for an account lookup.
const wchar_t* const kAccounts[] = {L"Everyone", L"Users", L"Administrators"};

std::wstring Number(const wchar_t* prefix, int value, int width)
{
    wchar_t text[32];
    std::swprintf(text, 32, L"%ls%0*d", prefix, width, value);
    return text;
}

std::wstring ComponentName(int index)
{
    return Number(L"C", index % kComponents, 2);
}
std::wstring ComponentDirectory(int index)
{
    return Number(L"D", index % kComponents, 2);
}

} // namespace

RowKind KindOfObject(int object)
{
    switch (object % 10) {
    case 0:
        return RowKind::Folder;
    case 1:
        return RowKind::Registry;
    default:
        return RowKind::File;
    }
}

std::wstring ObjectKey(int object)
{
    const wchar_t* prefix = KindOfObject(object) == RowKind::Folder     ? L"dir"
                            : KindOfObject(object) == RowKind::Registry ? L"reg"
                                                                        : L"fil";
    return Number(prefix, object, 6);
}

std::unique_ptr<qxtest::Package> WritePackage(const std::wstring& folder, int rows, int rowsPerObject,
                                              const std::wstring& registryParent)
{
    qxtest::PackageBuilder builder;
    for (int i = 0; i < kComponents; ++i) {
        builder.Rows(L"Directory", {{ComponentDirectory(i), L"INSTALLDIR", Number(L"d", i, 2)}});
        // 64-bit components, so every item is applied in this process.
        builder.Component(ComponentName(i), msidbComponentAttributes64bit, L"MainFeature", ComponentDirectory(i));
    }
    for (int row = 0; row < rows; ++row) {
        const wchar_t* account = kAccounts[row % 3];
        const int object = row / rowsPerObject;
        const bool first = row % rowsPerObject == 0; // the object's own rows come with its first lock row
        const std::wstring key = ObjectKey(object);
        switch (KindOfObject(object)) {
        case RowKind::Folder:
            if (first) {
                builder.Rows(L"Directory", {{key, ComponentDirectory(object), Number(L"f", object, 6)}});
                builder.Rows(L"CreateFolder", {{key, ComponentName(object)}});
            }
            builder.Rows(L"QXLockPermissions", {{key, L"CreateFolder", nullptr, account, 1179817, 0}}); // read, execute
            break;
        case RowKind::Registry:
            if (first) {
                builder.Registry(key, 2, L"Software\\" + registryParent + L"\\" + Number(L"k", object, 6),
                                 ComponentName(object));
            }
            builder.Rows(L"QXLockPermissions", {{key, L"Registry", nullptr, account, 131097, 0}}); // KEY_READ
            break;
        case RowKind::File:
            if (first) {
                builder.File(key, ComponentName(object), Number(L"f", object, 6) + L".dat");
            }
            builder.Rows(L"QXLockPermissions", {{key, L"File", nullptr, account, 1179817, 0}});
            break;
        }
    }
    const std::wstring path = folder + L"\\bench.msi";
    ::DeleteFileW(path.c_str());
    std::wstring error;
    std::unique_ptr<qxtest::Package> package = builder.Build(path, &error);
    if (!package) {
        std::printf("package not written: %ls\n", error.c_str());
    }
    return package;
}

void DeleteTree(const std::wstring& folder)
{
    WIN32_FIND_DATAW found;
    qx::unique_find search(::FindFirstFileW((folder + L"\\*").c_str(), &found));
    if (search) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            std::wstring path = folder + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                DeleteTree(path);
            } else {
                ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                ::DeleteFileW(path.c_str());
            }
        } while (::FindNextFileW(search.get(), &found));
    }
    ::RemoveDirectoryW(folder.c_str());
}

} // namespace qxbench
