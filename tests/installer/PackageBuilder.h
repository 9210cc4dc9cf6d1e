// Test-side installation packages: tables written as literals in a test, turned
// into a real .msi through msi.dll, opened as an installer session whose log
// lines the test can read.
#pragma once

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <cstddef>
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

// The installer wants key columns first and contiguous.
inline const wchar_t kLockTableColumns[] =
    L"`LockObject` CHAR(72) NOT NULL, `Table` CHAR(32) NOT NULL, `Domain` CHAR(255), `User` CHAR(255) NOT NULL, "
    L"`Permission` LONG NOT NULL, `Flags` LONG PRIMARY KEY `LockObject`, `Table`, `Domain`, `User`";

// Runs one SQL statement on a database; the installer's result.
UINT ExecuteSql(MSIHANDLE database, const std::wstring& query);

// A package file in a folder of its own; both go away with the object.
class Package {
public:
    Package(std::wstring folder, std::wstring path) : m_folder(std::move(folder)), m_path(std::move(path)) {}
    Package(const Package&) = delete;
    Package& operator=(const Package&) = delete;
    ~Package();

    const std::wstring& Path() const noexcept { return m_path; }

private:
    std::wstring m_folder;
    std::wstring m_path;
};

// Collects tables and writes them as a package. It starts with what every
// package needs: Property, Directory (TARGETDIR, ProgramFilesFolder, INSTALLDIR),
// Component (MainComponent, 64-bit), Feature (MainFeature) and FeatureComponents.
class PackageBuilder {
public:
    PackageBuilder();

    // Declares a table: columns are the text between the parentheses of CREATE TABLE.
    PackageBuilder& Table(const std::wstring& name, const std::wstring& columns, std::vector<Row> rows = {});
    // Appends rows to a table declared before.
    PackageBuilder& Rows(const std::wstring& name, std::vector<Row> rows);
    PackageBuilder& Property(const std::wstring& name, const std::wstring& value);

    // A component in a feature (none: nullptr) with a component code of its own.
    PackageBuilder& Component(const std::wstring& name, int attributes, const wchar_t* feature = L"MainFeature");
    // Rows of the tables that lock objects live in; each declares its table on first use.
    // fileName is "short|long" or one name.
    PackageBuilder& File(const std::wstring& key, const std::wstring& component, const std::wstring& fileName);
    PackageBuilder& CreateFolder(const std::wstring& directory, const std::wstring& component);
    // keyText null for an empty key.
    PackageBuilder& Registry(const std::wstring& key, int root, Cell keyText, const std::wstring& component);
    // One QXLockPermissions row: object, table, domain, user, permission, flags.
    PackageBuilder& Lock(Row row);

    // Writes the package; returns null (after reporting a test failure) when msi.dll refused it.
    std::unique_ptr<Package> Build() const;

private:
    struct TableLiteral {
        std::wstring name;
        std::wstring columns;
        std::vector<Row> rows;
    };
    TableLiteral* Find(const std::wstring& name);
    PackageBuilder& AddRow(const std::wstring& name, const wchar_t* columns, Row row);

    std::vector<TableLiteral> m_tables;
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
