// Installation packages written as table literals: each table's rows turned into a
// .idt text archive (the file an author writes by hand) and imported into a new
// .msi through msi.dll. Shared by the tests and the benchmark.
#pragma once

#include <windows.h>

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace qxtest {

// One field of a row: text, an integer, or null (nullptr), which an archive writes empty.
struct Cell {
    Cell(std::nullptr_t) { }                              // NOLINT(google-explicit-constructor): rows are brace lists
    Cell(const wchar_t* value) : text(value) { }          // NOLINT(google-explicit-constructor)
    Cell(std::wstring value) : text(std::move(value)) { } // NOLINT(google-explicit-constructor)
    Cell(int value) : text(std::to_wstring(value)) { }    // NOLINT(google-explicit-constructor)
    std::wstring text;
};
using Row = std::vector<Cell>;

// A package file that goes away with the object.
class Package {
public:
    explicit Package(std::wstring path) : m_path(std::move(path)) { }
    Package(const Package&) = delete;
    Package& operator=(const Package&) = delete;
    ~Package() { ::DeleteFileW(m_path.c_str()); }
    const std::wstring& Path() const noexcept { return m_path; }

private:
    std::wstring m_path;
};

// Starts with what every package needs: Property, Directory (TARGETDIR,
// ProgramFilesFolder, INSTALLDIR), Component (MainComponent, 64-bit), Feature
// (MainFeature) and FeatureComponents.
class PackageBuilder {
public:
    PackageBuilder();

    // Columns of the test's own for a table: names and types as an archive's first
    // two lines write them (tab-separated), and the key columns.
    PackageBuilder& Columns(const std::wstring& table, std::wstring names, std::wstring types, std::wstring keys);
    // Appends rows (none: an empty table).
    PackageBuilder& Rows(const std::wstring& table, std::vector<Row> rows);
    PackageBuilder& Property(const std::wstring& name, const std::wstring& value);
    // A component with a code of its own, in a feature (none: nullptr).
    PackageBuilder& Component(const std::wstring& name, int attributes, const wchar_t* feature = L"MainFeature",
                              const std::wstring& directory = L"INSTALLDIR");
    // fileName is "short|long" or one name.
    PackageBuilder& File(const std::wstring& key, const std::wstring& component, const std::wstring& fileName);
    PackageBuilder& Registry(const std::wstring& key, int root, Cell keyText, const std::wstring& component);
    // A demand-start service of its own process.
    PackageBuilder& Service(const std::wstring& key, Cell name, const std::wstring& component);
    // A Binary row whose stream holds data.
    PackageBuilder& Binary(const std::wstring& name, std::string data);

    // Writes the package into a new temporary file, or into path; null, with the
    // reason in *error, when a table is unknown or msi.dll refused it.
    std::unique_ptr<Package> Build(std::wstring* error = nullptr) const;
    std::unique_ptr<Package> Build(const std::wstring& path, std::wstring* error = nullptr) const;

    struct TableColumns {
        std::wstring names, types, keys;
    };

private:
    std::map<std::wstring, std::vector<Row>> m_tables;
    std::map<std::wstring, TableColumns> m_columns;
    std::map<std::wstring, std::string> m_binaries; // Binary streams by name
    int m_components = 0;
    int m_files = 0;
};

} // namespace qxtest
