// Installation packages written as table literals: the rows of each table as a
// test or the benchmark gives them, turned into .idt text archives (the files an
// author writes by hand) and imported into a new .msi through msi.dll.
#pragma once

#include <windows.h>

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace qxtest {

// One field of a row: text, integer or null (nullptr).
class Cell {
public:
    Cell(std::nullptr_t) noexcept { } // NOLINT(google-explicit-constructor): rows are brace lists
    Cell(const wchar_t* text) : m_text(text), m_null(false) { }          // NOLINT(google-explicit-constructor)
    Cell(std::wstring text) : m_text(std::move(text)), m_null(false) { } // NOLINT(google-explicit-constructor)
    Cell(int value) : m_text(std::to_wstring(value)), m_null(false) { }  // NOLINT(google-explicit-constructor)

    // The field as an archive writes it: empty for null.
    const std::wstring& Text() const noexcept { return m_text; }
    bool IsNull() const noexcept { return m_null; }

private:
    std::wstring m_text;
    bool m_null = true;
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

// Collects rows and writes them as a package. It starts with what every
// package needs: Property, Directory (TARGETDIR, ProgramFilesFolder, INSTALLDIR),
// Component (MainComponent, 64-bit), Feature (MainFeature) and FeatureComponents.
class PackageBuilder {
public:
    PackageBuilder();

    // Gives a table columns of the test's own, in place of the ones the builder
    // knows: names and types as an archive's first two lines write them
    // (tab-separated), then the key columns.
    PackageBuilder& Columns(const std::wstring& table, std::wstring names, std::wstring types, std::wstring keys);
    // Appends rows to one of the tables the builder knows the columns of (no rows:
    // an empty table).
    PackageBuilder& Rows(const std::wstring& table, std::vector<Row> rows);
    PackageBuilder& Property(const std::wstring& name, const std::wstring& value);
    // A component in INSTALLDIR and in a feature (none: nullptr), with a component code of its own.
    PackageBuilder& Component(const std::wstring& name, int attributes, const wchar_t* feature = L"MainFeature");
    // fileName is "short|long" or one name.
    PackageBuilder& File(const std::wstring& key, const std::wstring& component, const std::wstring& fileName);
    // keyText null for an empty key.
    PackageBuilder& Registry(const std::wstring& key, int root, Cell keyText, const std::wstring& component);
    // A Binary row whose stream holds data.
    PackageBuilder& Binary(const std::wstring& name, std::string data);

    // Writes the package into a new temporary file, or into path; null, with the
    // reason in *error, when a table is unknown or msi.dll refused it.
    std::unique_ptr<Package> Build(std::wstring* error = nullptr) const;
    std::unique_ptr<Package> Build(const std::wstring& path, std::wstring* error = nullptr) const;

private:
    struct TableColumns {
        std::wstring names;
        std::wstring types;
        std::wstring keys;
    };

    std::map<std::wstring, std::vector<Row>> m_tables;
    std::map<std::wstring, TableColumns> m_columns;
    // Stream data by table, then by the file name that the table's row gives.
    std::map<std::wstring, std::map<std::wstring, std::string>> m_streams;
    int m_components = 0;
    int m_files = 0;
};

} // namespace qxtest
