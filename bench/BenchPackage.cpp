#include "BenchPackage.h"

#include <msi.h>
#include <msiquery.h>
#include <propidl.h>

#include <cstdio>
#include <cwchar>
#include <memory>
#include <vector>

#include "msi/MsiHandle.h"
#include "support/unique_any.h"

namespace qxbench {

const wchar_t kRegistryParent[] = L"QXLockBench";

namespace {

// Accounts of the well-known table, so that no row waits for an account lookup.
const char* const kAccounts[] = {"Everyone", "Users", "Administrators"};

std::string Number(const char* prefix, int value, int width)
{
    char text[32];
    std::snprintf(text, sizeof text, "%s%0*d", prefix, width, value);
    return text;
}

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

std::string ComponentName(int index) { return Number("C", index % kComponents, 2); }
std::string ComponentDirectory(int index) { return Number("D", index % kComponents, 2); }

// One .idt file: column names, column types, table name with its key columns, rows.
class IdtTable {
public:
    IdtTable(std::string name, std::string columns, std::string types, std::string keys)
        : m_name(std::move(name)), m_text(columns + "\r\n" + types + "\r\n" + m_name + "\t" + keys + "\r\n")
    {
    }

    void Row(const std::vector<std::string>& cells)
    {
        for (std::size_t i = 0; i < cells.size(); ++i) {
            m_text += (i ? "\t" : "") + cells[i];
        }
        m_text += "\r\n";
    }

    // Writes the file and imports it; the installer's result.
    UINT Import(MSIHANDLE database, const std::wstring& folder) const
    {
        std::wstring file(m_name.begin(), m_name.end());
        file += L".idt";
        {
            HANDLE opened = ::CreateFileW((folder + L"\\" + file).c_str(), GENERIC_WRITE, 0, nullptr,
                                          CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (opened == INVALID_HANDLE_VALUE) {
                return ::GetLastError();
            }
            qx::unique_file out(opened);
            DWORD written = 0;
            if (!::WriteFile(out.get(), m_text.data(), static_cast<DWORD>(m_text.size()), &written, nullptr) ||
                written != m_text.size()) {
                return ERROR_WRITE_FAULT;
            }
        }
        UINT result = ::MsiDatabaseImportW(database, folder.c_str(), file.c_str());
        ::DeleteFileW((folder + L"\\" + file).c_str());
        return result;
    }

    const std::string& Name() const { return m_name; }

private:
    std::string m_name;
    std::string m_text;
};

UINT WriteSummary(MSIHANDLE database)
{
    qx::unique_msihandle summary;
    UINT result = ::MsiGetSummaryInformationW(database, nullptr, 8, summary.put());
    const struct {
        UINT id;
        const wchar_t* text;
    } texts[] = {{PIDSI_TITLE, L"Installation Database"},
                 {PIDSI_SUBJECT, L"Qelmora lock benchmark"},
                 {PIDSI_TEMPLATE, L"x64;1033"},
                 {PIDSI_REVNUMBER, L"{3B9E27C4-61D0-4A85-9F3E-0C7A2D5E8B14}"}};
    for (const auto& text : texts) {
        if (result == ERROR_SUCCESS) {
            result = ::MsiSummaryInfoSetPropertyW(summary.get(), text.id, VT_LPSTR, 0, nullptr, text.text);
        }
    }
    // Schema 200; word count 2: compressed, so no source files are looked for.
    if (result == ERROR_SUCCESS) {
        result = ::MsiSummaryInfoSetPropertyW(summary.get(), PIDSI_PAGECOUNT, VT_I4, 200, nullptr, nullptr);
    }
    if (result == ERROR_SUCCESS) {
        result = ::MsiSummaryInfoSetPropertyW(summary.get(), PIDSI_WORDCOUNT, VT_I4, 2, nullptr, nullptr);
    }
    if (result == ERROR_SUCCESS) {
        result = ::MsiSummaryInfoPersist(summary.get());
    }
    return result;
}

} // namespace

RowKind KindOfRow(int row)
{
    switch (row % 10) {
    case 0:
        return RowKind::Folder;
    case 1:
        return RowKind::Registry;
    default:
        return RowKind::File;
    }
}

std::wstring ObjectKey(int row)
{
    const char* prefix = KindOfRow(row) == RowKind::Folder ? "dir" : KindOfRow(row) == RowKind::Registry ? "reg" : "fil";
    std::string key = Number(prefix, row, 6);
    return std::wstring(key.begin(), key.end());
}

std::wstring WritePackage(const std::wstring& folder, int rows, const std::wstring& registryParent)
{
    IdtTable property("Property", "Property\tValue", "s72\tl0", "Property");
    property.Row({"ProductCode", "{8C2F4A61-7E3B-4D09-A5C1-62B0E9D47F38}"});
    property.Row({"ProductName", "Qelmora Lock Benchmark"});
    property.Row({"ProductVersion", "1.0.0"});
    property.Row({"Manufacturer", "Qelmora"});
    property.Row({"ProductLanguage", "1033"});

    IdtTable directory("Directory", "Directory\tDirectory_Parent\tDefaultDir", "s72\tS72\tl255", "Directory");
    directory.Row({"TARGETDIR", "", "SourceDir"});
    directory.Row({"INSTALLDIR", "TARGETDIR", "QXBench"});
    IdtTable component("Component", "Component\tComponentId\tDirectory_\tAttributes\tCondition\tKeyPath",
                       "s72\tS38\ts72\ti2\tS255\tS72", "Component");
    IdtTable featureComponents("FeatureComponents", "Feature_\tComponent_", "s38\ts72", "Feature_\tComponent_");
    for (int i = 0; i < kComponents; ++i) {
        directory.Row({ComponentDirectory(i), "INSTALLDIR", Number("d", i, 2)});
        char code[40];
        std::snprintf(code, sizeof code, "{5E0C2A71-8D43-4F96-B21E-%012X}", static_cast<unsigned>(i));
        // 0x100: 64-bit components, so every item is applied in this process.
        component.Row({ComponentName(i), code, ComponentDirectory(i), "256", "", ""});
        featureComponents.Row({"MainFeature", ComponentName(i)});
    }
    IdtTable feature("Feature",
                     "Feature\tFeature_Parent\tTitle\tDescription\tDisplay\tLevel\tDirectory_\tAttributes",
                     "s38\tS38\tL64\tL255\tI2\ti2\tS72\ti2", "Feature");
    feature.Row({"MainFeature", "", "Main", "", "1", "1", "INSTALLDIR", "0"});

    IdtTable file("File", "File\tComponent_\tFileName\tFileSize\tVersion\tLanguage\tAttributes\tSequence",
                  "s72\ts72\tl255\ti4\tS72\tS20\tI2\ti4", "File");
    IdtTable createFolder("CreateFolder", "Directory_\tComponent_", "s72\ts72", "Directory_\tComponent_");
    IdtTable registry("Registry", "Registry\tRoot\tKey\tName\tValue\tComponent_", "s72\ti2\tl255\tL255\tL0\ts72",
                      "Registry");
    IdtTable lock("QXLockPermissions", "LockObject\tTable\tDomain\tUser\tPermission\tFlags",
                  "s72\ts32\tS255\ts255\ti4\tI4", "LockObject\tTable\tDomain\tUser");
    const std::string parent = Narrow(registryParent);
    for (int row = 0; row < rows; ++row) {
        const char* account = kAccounts[row % 3];
        switch (KindOfRow(row)) {
        case RowKind::Folder: {
            std::string key = Narrow(ObjectKey(row));
            directory.Row({key, ComponentDirectory(row), Number("f", row, 6)});
            createFolder.Row({key, ComponentName(row)});
            lock.Row({key, "CreateFolder", "", account, "1179817", "0"}); // read and execute
            break;
        }
        case RowKind::Registry: {
            std::string key = Narrow(ObjectKey(row));
            registry.Row({key, "2", "Software\\" + parent + "\\" + Number("k", row, 6), "", "", ComponentName(row)});
            lock.Row({key, "Registry", "", account, "131097", "0"}); // KEY_READ
            break;
        }
        case RowKind::File: {
            std::string key = Narrow(ObjectKey(row));
            file.Row({key, ComponentName(row), Number("f", row, 6) + ".dat", "1", "", "", "", std::to_string(row + 1)});
            lock.Row({key, "File", "", account, "1179817", "0"});
            break;
        }
        }
    }

    std::wstring path = folder + L"\\bench.msi";
    ::DeleteFileW(path.c_str());
    qx::unique_msihandle database;
    UINT result = ::MsiOpenDatabaseW(path.c_str(), MSIDBOPEN_CREATE, database.put());
    for (const IdtTable* table :
         {&property, &directory, &component, &feature, &featureComponents, &file, &createFolder, &registry, &lock}) {
        if (result == ERROR_SUCCESS) {
            result = table->Import(database.get(), folder);
            if (result != ERROR_SUCCESS) {
                std::printf("table %s not imported: %u\n", table->Name().c_str(), result);
            }
        }
    }
    if (result == ERROR_SUCCESS) {
        result = WriteSummary(database.get());
    }
    if (result == ERROR_SUCCESS) {
        result = ::MsiDatabaseCommit(database.get());
    }
    if (result != ERROR_SUCCESS) {
        std::printf("package not written: %u\n", result);
        return std::wstring();
    }
    return path;
}

void DeleteTree(const std::wstring& folder)
{
    struct FindClose {
        void operator()(HANDLE search) const noexcept { ::FindClose(search); }
    };
    WIN32_FIND_DATAW found;
    HANDLE first = ::FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (first != INVALID_HANDLE_VALUE) {
        std::unique_ptr<void, FindClose> search(first);
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
