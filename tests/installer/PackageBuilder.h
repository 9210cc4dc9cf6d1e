// Test-side installation packages: tables written as literals in a test, turned
// into a real .msi through msi.dll, opened as an installer session whose log
// lines the test can read.
#pragma once

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "msi/MsiHandle.h"

namespace qxtest {

// One field of a row: text, integer or null (nullptr).
class Cell {
public:
    Cell(std::nullptr_t) noexcept {} // NOLINT(google-explicit-constructor): rows are brace lists
    Cell(const wchar_t* text) : m_kind(Kind::Text), m_text(text) {} // NOLINT(google-explicit-constructor)
    Cell(std::wstring text) : m_kind(Kind::Text), m_text(std::move(text)) {} // NOLINT(google-explicit-constructor)
    Cell(int value) noexcept : m_kind(Kind::Integer), m_integer(value) {} // NOLINT(google-explicit-constructor)

    // Stores the cell in a record field; a null cell leaves the field null.
    UINT WriteTo(MSIHANDLE record, UINT field) const;

private:
    enum class Kind { Null, Text, Integer };
    Kind m_kind = Kind::Null;
    std::wstring m_text;
    int m_integer = 0;
};

using Row = std::vector<Cell>;

// Runs one SQL statement on a database; the installer's result.
UINT ExecuteSql(MSIHANDLE database, const std::wstring& query);

// A package file that goes away with the object.
class Package {
public:
    explicit Package(std::wstring path) : m_path(std::move(path)) {}
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

    // Appends rows to one of the tables the builder knows, declaring it on first
    // use (no rows: an empty table).
    PackageBuilder& Rows(const std::wstring& table, std::vector<Row> rows);
    PackageBuilder& Property(const std::wstring& name, const std::wstring& value);
    // A component in INSTALLDIR and in a feature (none: nullptr), with a component code of its own.
    PackageBuilder& Component(const std::wstring& name, int attributes, const wchar_t* feature = L"MainFeature");
    // fileName is "short|long" or one name.
    PackageBuilder& File(const std::wstring& key, const std::wstring& component, const std::wstring& fileName);
    // keyText null for an empty key.
    PackageBuilder& Registry(const std::wstring& key, int root, Cell keyText, const std::wstring& component);

    // Writes the package; returns null (after reporting a test failure) when msi.dll refused it.
    std::unique_ptr<Package> Build() const;

private:
    std::map<std::wstring, std::vector<Row>> m_tables;
    int m_components = 0;
    int m_files = 0;
};

// The library's log lines while the object lives, without the "Qelmora <time>: " prefix.
class LogCapture {
public:
    LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
    ~LogCapture();

    const std::vector<std::wstring>& LibraryMessages() const noexcept { return m_messages; }
    void Clear() { m_messages.clear(); }

private:
    static int WINAPI Handler(LPVOID context, UINT messageType, LPCWSTR message);

    std::vector<std::wstring> m_messages;
    INSTALLUI_HANDLERW m_previousHandler = nullptr;
    INSTALLUILEVEL m_previousLevel = INSTALLUILEVEL_NOCHANGE;
};

} // namespace qxtest
