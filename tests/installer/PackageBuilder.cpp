#include "PackageBuilder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <propidl.h>

namespace qxtest {

namespace {

const wchar_t kProductCode[] = L"{6F0D6C1E-2A57-4E0B-9C35-1D7E3A5B8C21}";
const wchar_t kPackageCode[] = L"{0B7C2D44-95E1-4F6A-A3C8-7E52D1F09B36}";

std::wstring TemporaryFolder()
{
    static unsigned int counter = 0;
    wchar_t base[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH, base);
    for (;;) {
        std::wstring folder = std::wstring(base) + L"qxpkg-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
            std::to_wstring(++counter);
        if (::CreateDirectoryW(folder.c_str(), nullptr)) {
            return folder;
        }
        if (::GetLastError() != ERROR_ALREADY_EXISTS) {
            return std::wstring();
        }
    }
}

UINT WriteSummaryInformation(MSIHANDLE database)
{
    CMsiHandle summary;
    UINT result = ::MsiGetSummaryInformationW(database, nullptr, 20, summary.put());
    if (result != ERROR_SUCCESS) {
        return result;
    }
    struct TextProperty {
        UINT id;
        const wchar_t* value;
    };
    const TextProperty texts[] = {
        {PIDSI_TITLE, L"Installation Database"},
        {PIDSI_SUBJECT, L"Qelmora test package"},
        {PIDSI_AUTHOR, L"Qelmora"},
        {PIDSI_TEMPLATE, L"x64;1033"},
        {PIDSI_REVNUMBER, kPackageCode},
    };
    for (const TextProperty& text : texts) {
        result = ::MsiSummaryInfoSetPropertyW(summary, text.id, VT_LPSTR, 0, nullptr, text.value);
        if (result != ERROR_SUCCESS) {
            return result;
        }
    }
    // Schema 200; word count 2: compressed, so no source files are looked for.
    result = ::MsiSummaryInfoSetPropertyW(summary, PIDSI_PAGECOUNT, VT_I4, 200, nullptr, nullptr);
    if (result == ERROR_SUCCESS) {
        result = ::MsiSummaryInfoSetPropertyW(summary, PIDSI_WORDCOUNT, VT_I4, 2, nullptr, nullptr);
    }
    if (result == ERROR_SUCCESS) {
        result = ::MsiSummaryInfoPersist(summary);
    }
    return result;
}

} // namespace

std::string Narrow(const std::wstring& text)
{
    int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                     nullptr);
    std::string narrow(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) {
        ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &narrow[0], size, nullptr,
                              nullptr);
    }
    return narrow;
}

UINT Cell::WriteTo(MSIHANDLE record, UINT field) const
{
    switch (m_kind) {
    case Kind::Text:
        return ::MsiRecordSetStringW(record, field, m_text.c_str());
    case Kind::Integer:
        return ::MsiRecordSetInteger(record, field, m_integer);
    case Kind::Stream:
        return ::MsiRecordSetStreamW(record, field, m_text.c_str());
    case Kind::Null:
        break;
    }
    return ERROR_SUCCESS;
}

UINT ExecuteSql(MSIHANDLE database, const std::wstring& query)
{
    CMsiHandle view;
    UINT result = ::MsiDatabaseOpenViewW(database, query.c_str(), view.put());
    if (result == ERROR_SUCCESS) {
        result = ::MsiViewExecute(view, 0);
    }
    return result;
}

UINT InsertRows(MSIHANDLE database, const std::wstring& table, const std::vector<Row>& rows, bool temporary)
{
    if (rows.empty()) {
        return ERROR_SUCCESS;
    }
    // The column names make an INSERT with one parameter per column: unlike
    // MsiViewModify, it also takes stream fields.
    CMsiHandle columnsView;
    UINT result = ::MsiDatabaseOpenViewW(database, (L"SELECT * FROM `" + table + L"`").c_str(), columnsView.put());
    CMsiHandle names;
    if (result == ERROR_SUCCESS) {
        result = ::MsiViewGetColumnInfo(columnsView, MSICOLINFO_NAMES, names.put());
    }
    if (result != ERROR_SUCCESS) {
        return result;
    }
    const UINT columns = ::MsiRecordGetFieldCount(names);
    std::wstring insert = L"INSERT INTO `" + table + L"` (";
    std::wstring values = L") VALUES (";
    for (UINT column = 1; column <= columns; ++column) {
        wchar_t name[80] = {};
        DWORD size = 80;
        ::MsiRecordGetStringW(names, column, name, &size);
        insert += (column > 1 ? L", `" : L"`") + std::wstring(name) + L"`";
        values += column > 1 ? L", ?" : L"?";
    }
    insert += values + (temporary ? L") TEMPORARY" : L")");

    for (const Row& row : rows) {
        if (row.size() > columns) {
            return ERROR_INVALID_DATA;
        }
        CMsiHandle record(::MsiCreateRecord(columns));
        for (std::size_t i = 0; i < row.size(); ++i) {
            result = row[i].WriteTo(record, static_cast<UINT>(i + 1));
            if (result != ERROR_SUCCESS) {
                return result;
            }
        }
        CMsiHandle view;
        result = ::MsiDatabaseOpenViewW(database, insert.c_str(), view.put());
        if (result == ERROR_SUCCESS) {
            result = ::MsiViewExecute(view, record);
        }
        if (result != ERROR_SUCCESS) {
            return result;
        }
    }
    return ERROR_SUCCESS;
}

Package::~Package()
{
    ::DeleteFileW(m_path.c_str());
    ::RemoveDirectoryW(m_folder.c_str());
}

PackageBuilder::PackageBuilder()
{
    Table(L"Property", L"`Property` CHAR(72) NOT NULL, `Value` LONGCHAR NOT NULL LOCALIZABLE PRIMARY KEY `Property`",
          {
              {L"ProductCode", kProductCode},
              {L"ProductName", L"Qelmora Lock Test"},
              {L"ProductVersion", L"1.0.0"},
              {L"Manufacturer", L"Qelmora"},
              {L"ProductLanguage", L"1033"},
              {L"UpgradeCode", L"{2C8B6E90-3D41-4A7F-8E15-C4B9A2D07F53}"},
          });
    Table(L"Directory",
          L"`Directory` CHAR(72) NOT NULL, `Directory_Parent` CHAR(72), `DefaultDir` CHAR(255) NOT NULL LOCALIZABLE "
          L"PRIMARY KEY `Directory`",
          {
              {L"TARGETDIR", nullptr, L"SourceDir"},
              {L"ProgramFilesFolder", L"TARGETDIR", L"."},
              {L"INSTALLDIR", L"ProgramFilesFolder", L"QXTest"},
          });
    Table(L"Component",
          L"`Component` CHAR(72) NOT NULL, `ComponentId` CHAR(38), `Directory_` CHAR(72) NOT NULL, "
          L"`Attributes` SHORT NOT NULL, `Condition` CHAR(255), `KeyPath` CHAR(72) PRIMARY KEY `Component`",
          {
              {L"MainComponent", L"{9A4E1C73-5B20-4D8F-B6A1-0E3C7D9F2B84}", L"INSTALLDIR", 256, nullptr, nullptr},
          });
    Table(L"Feature",
          L"`Feature` CHAR(38) NOT NULL, `Feature_Parent` CHAR(38), `Title` CHAR(64) LOCALIZABLE, "
          L"`Description` CHAR(255) LOCALIZABLE, `Display` SHORT, `Level` SHORT NOT NULL, `Directory_` CHAR(72), "
          L"`Attributes` SHORT NOT NULL PRIMARY KEY `Feature`",
          {
              {L"MainFeature", nullptr, L"Main", nullptr, 1, 1, L"INSTALLDIR", 0},
          });
    Table(L"FeatureComponents",
          L"`Feature_` CHAR(38) NOT NULL, `Component_` CHAR(72) NOT NULL PRIMARY KEY `Feature_`, `Component_`",
          {
              {L"MainFeature", L"MainComponent"},
          });
}

PackageBuilder::TableLiteral* PackageBuilder::Find(const std::wstring& name)
{
    auto it = std::find_if(m_tables.begin(), m_tables.end(),
                           [&name](const TableLiteral& table) { return table.name == name; });
    return it == m_tables.end() ? nullptr : &*it;
}

PackageBuilder& PackageBuilder::Table(const std::wstring& name, const std::wstring& columns, std::vector<Row> rows)
{
    if (Find(name)) {
        ADD_FAILURE() << "table declared twice";
        return *this;
    }
    m_tables.push_back(TableLiteral{name, columns, std::move(rows)});
    return *this;
}

PackageBuilder& PackageBuilder::Rows(const std::wstring& name, std::vector<Row> rows)
{
    TableLiteral* table = Find(name);
    if (!table) {
        ADD_FAILURE() << "rows for a table that was not declared";
        return *this;
    }
    for (Row& row : rows) {
        table->rows.push_back(std::move(row));
    }
    return *this;
}

PackageBuilder& PackageBuilder::Property(const std::wstring& name, const std::wstring& value)
{
    return Rows(L"Property", {{name, value}});
}

PackageBuilder& PackageBuilder::AddRow(const std::wstring& name, const wchar_t* columns, Row row)
{
    if (!Find(name)) {
        Table(name, columns);
    }
    return Rows(name, {std::move(row)});
}

PackageBuilder& PackageBuilder::Component(const std::wstring& name, const std::wstring& directory, int attributes,
                                          const wchar_t* feature)
{
    // Without a component code the installer reports the installed state as unknown, not absent.
    wchar_t code[39] = {};
    std::swprintf(code, 39, L"{5E0C2A71-8D43-4F96-B21E-%012X}", static_cast<unsigned int>(++m_components));
    Rows(L"Component", {{name, code, directory, attributes, nullptr, nullptr}});
    if (feature) {
        Rows(L"FeatureComponents", {{feature, name}});
    }
    return *this;
}

PackageBuilder& PackageBuilder::Directory(const std::wstring& name, const std::wstring& parent,
                                          const std::wstring& defaultDir)
{
    return Rows(L"Directory", {{name, parent, defaultDir}});
}

PackageBuilder& PackageBuilder::File(const std::wstring& key, const std::wstring& component,
                                     const std::wstring& fileName)
{
    return AddRow(L"File", kFileColumns, {key, component, fileName, 1, nullptr, nullptr, 0, ++m_files});
}

PackageBuilder& PackageBuilder::CreateFolder(const std::wstring& directory, const std::wstring& component)
{
    return AddRow(L"CreateFolder", kCreateFolderColumns, {directory, component});
}

PackageBuilder& PackageBuilder::Registry(const std::wstring& key, int root, Cell keyText,
                                         const std::wstring& component)
{
    return AddRow(L"Registry", kRegistryColumns, {key, root, std::move(keyText), nullptr, nullptr, component});
}

PackageBuilder& PackageBuilder::Lock(Row row)
{
    return AddRow(L"QXLockPermissions", kLockTableColumns, std::move(row));
}

std::unique_ptr<Package> PackageBuilder::Build() const
{
    std::wstring folder = TemporaryFolder();
    if (folder.empty()) {
        ADD_FAILURE() << "no temporary folder for the package";
        return nullptr;
    }
    auto package = std::make_unique<Package>(folder, folder + L"\\test.msi");

    CMsiHandle database;
    UINT result = ::MsiOpenDatabaseW(package->Path().c_str(), MSIDBOPEN_CREATE, database.put());
    if (result != ERROR_SUCCESS) {
        ADD_FAILURE() << "MsiOpenDatabaseW failed: " << result;
        return nullptr;
    }
    for (const TableLiteral& table : m_tables) {
        result = ExecuteSql(database, L"CREATE TABLE `" + table.name + L"` (" + table.columns + L")");
        if (result == ERROR_SUCCESS) {
            result = InsertRows(database, table.name, table.rows);
        }
        if (result != ERROR_SUCCESS) {
            ADD_FAILURE() << "table " << Narrow(table.name) << " not written: " << result;
            return nullptr;
        }
    }
    result = WriteSummaryInformation(database);
    if (result == ERROR_SUCCESS) {
        result = ::MsiDatabaseCommit(database);
    }
    if (result != ERROR_SUCCESS) {
        ADD_FAILURE() << "package not committed: " << result;
        return nullptr;
    }
    return package;
}

LogCapture::LogCapture()
{
    m_previousLevel = ::MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    m_previousHandler = ::MsiSetExternalUIW(&LogCapture::Handler, INSTALLLOGMODE_INFO, this);
}

LogCapture::~LogCapture()
{
    ::MsiSetExternalUIW(m_previousHandler, m_previousHandler ? INSTALLLOGMODE_INFO : 0, nullptr);
    ::MsiSetInternalUI(m_previousLevel, nullptr);
}

int WINAPI LogCapture::Handler(LPVOID context, UINT messageType, LPCWSTR message)
{
    if ((messageType & 0xFF000000u) == INSTALLMESSAGE_INFO && message) {
        static_cast<LogCapture*>(context)->m_lines.emplace_back(message);
    }
    return IDOK;
}

std::vector<std::wstring> LogCapture::LibraryMessages() const
{
    const std::wstring prefix = L"Qelmora ";
    std::vector<std::wstring> messages;
    for (const std::wstring& line : m_lines) {
        if (line.compare(0, prefix.size(), prefix) != 0) {
            continue;
        }
        std::size_t separator = line.find(L": ", prefix.size());
        if (separator != std::wstring::npos) {
            messages.push_back(line.substr(separator + 2));
        }
    }
    return messages;
}

UINT InstallerSession::Open(const Package& package)
{
    m_session.reset();
    return ::MsiOpenPackageW(package.Path().c_str(), m_session.put());
}

UINT InstallerSession::RunCosting()
{
    for (const wchar_t* action : {L"CostInitialize", L"FileCost", L"CostFinalize"}) {
        UINT result = ::MsiDoActionW(m_session, action);
        if (result != ERROR_SUCCESS) {
            return result;
        }
    }
    return ERROR_SUCCESS;
}

std::wstring InstallerSession::GetProperty(const wchar_t* name) const
{
    std::wstring value(16, L'\0');
    DWORD size = static_cast<DWORD>(value.size());
    UINT result = ::MsiGetPropertyW(m_session, name, &value[0], &size);
    if (result == ERROR_MORE_DATA) {
        value.resize(size + 1);
        size = static_cast<DWORD>(value.size());
        result = ::MsiGetPropertyW(m_session, name, &value[0], &size);
    }
    value.resize(result == ERROR_SUCCESS ? size : 0);
    return value;
}

UINT InstallerSession::SetProperty(const wchar_t* name, const std::wstring& value)
{
    return ::MsiSetPropertyW(m_session, name, value.c_str());
}

} // namespace qxtest
