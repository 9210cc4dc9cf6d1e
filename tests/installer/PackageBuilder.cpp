#include "PackageBuilder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <iterator>
#include <propidl.h>

namespace qxtest {

namespace {

std::wstring TemporaryFolder()
{
    static unsigned int counter = 0;
    wchar_t base[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH, base);
    std::wstring folder = std::wstring(base) + L"qxpkg-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
        std::to_wstring(++counter);
    return ::CreateDirectoryW(folder.c_str(), nullptr) ? folder : std::wstring();
}

UINT WriteSummaryInformation(MSIHANDLE database)
{
    CMsiHandle summary;
    UINT result = ::MsiGetSummaryInformationW(database, nullptr, 20, summary.put());
    const struct {
        UINT id;
        const wchar_t* text;
        INT value;
    } fields[] = {
        {PIDSI_TEMPLATE, L"x64;1033", 0},
        {PIDSI_REVNUMBER, L"{0B7C2D44-95E1-4F6A-A3C8-7E52D1F09B36}", 0},
        {PIDSI_PAGECOUNT, nullptr, 200},
        // Compressed, so no source files are looked for.
        {PIDSI_WORDCOUNT, nullptr, 2},
    };
    for (const auto& field : fields) {
        if (result == ERROR_SUCCESS) {
            result = ::MsiSummaryInfoSetPropertyW(summary, field.id, field.text ? VT_LPSTR : VT_I4, field.value,
                                                  nullptr, field.text);
        }
    }
    return result == ERROR_SUCCESS ? ::MsiSummaryInfoPersist(summary) : result;
}

UINT InsertRows(MSIHANDLE database, const std::wstring& table, const std::vector<Row>& rows)
{
    CMsiHandle view;
    UINT result = ::MsiDatabaseOpenViewW(database, (L"SELECT * FROM `" + table + L"`").c_str(), view.put());
    if (result == ERROR_SUCCESS) {
        result = ::MsiViewExecute(view, 0);
    }
    for (const Row& row : rows) {
        CMsiHandle record(::MsiCreateRecord(static_cast<UINT>(row.size())));
        for (std::size_t i = 0; i < row.size() && result == ERROR_SUCCESS; ++i) {
            result = row[i].WriteTo(record, static_cast<UINT>(i + 1));
        }
        if (result == ERROR_SUCCESS) {
            result = ::MsiViewModify(view, MSIMODIFY_INSERT, record);
        }
    }
    return result;
}

} // namespace

UINT Cell::WriteTo(MSIHANDLE record, UINT field) const
{
    if (m_kind == Kind::Text) {
        return ::MsiRecordSetStringW(record, field, m_text.c_str());
    }
    return m_kind == Kind::Integer ? ::MsiRecordSetInteger(record, field, m_integer) : ERROR_SUCCESS;
}

UINT ExecuteSql(MSIHANDLE database, const std::wstring& query)
{
    CMsiHandle view;
    UINT result = ::MsiDatabaseOpenViewW(database, query.c_str(), view.put());
    return result == ERROR_SUCCESS ? ::MsiViewExecute(view, 0) : result;
}

Package::~Package()
{
    ::DeleteFileW(m_path.c_str());
    ::RemoveDirectoryW(m_folder.c_str());
}

PackageBuilder::PackageBuilder()
{
    Table(L"Property", L"`Property` CHAR(72) NOT NULL, `Value` LONGCHAR NOT NULL PRIMARY KEY `Property`",
          {
              {L"ProductCode", L"{6F0D6C1E-2A57-4E0B-9C35-1D7E3A5B8C21}"},
              {L"ProductName", L"Qelmora Lock Test"},
              {L"ProductVersion", L"1.0.0"},
              {L"Manufacturer", L"Qelmora"},
              {L"ProductLanguage", L"1033"},
          });
    Table(L"Directory",
          L"`Directory` CHAR(72) NOT NULL, `Directory_Parent` CHAR(72), `DefaultDir` CHAR(255) NOT NULL "
          L"PRIMARY KEY `Directory`",
          {
              {L"TARGETDIR", nullptr, L"SourceDir"},
              {L"ProgramFilesFolder", L"TARGETDIR", L"."},
              {L"INSTALLDIR", L"ProgramFilesFolder", L"QXTest"},
          });
    Table(L"Component",
          L"`Component` CHAR(72) NOT NULL, `ComponentId` CHAR(38), `Directory_` CHAR(72) NOT NULL, "
          L"`Attributes` SHORT NOT NULL, `Condition` CHAR(255), `KeyPath` CHAR(72) PRIMARY KEY `Component`",
          {{L"MainComponent", L"{9A4E1C73-5B20-4D8F-B6A1-0E3C7D9F2B84}", L"INSTALLDIR", 256}});
    Table(L"Feature",
          L"`Feature` CHAR(38) NOT NULL, `Feature_Parent` CHAR(38), `Title` CHAR(64), `Description` CHAR(255), "
          L"`Display` SHORT, `Level` SHORT NOT NULL, `Directory_` CHAR(72), `Attributes` SHORT NOT NULL "
          L"PRIMARY KEY `Feature`",
          {{L"MainFeature", nullptr, L"Main", nullptr, 1, 1, L"INSTALLDIR", 0}});
    Table(L"FeatureComponents",
          L"`Feature_` CHAR(38) NOT NULL, `Component_` CHAR(72) NOT NULL PRIMARY KEY `Feature_`, `Component_`",
          {{L"MainFeature", L"MainComponent"}});
}

PackageBuilder::TableLiteral* PackageBuilder::Find(const std::wstring& name)
{
    auto it = std::find_if(m_tables.begin(), m_tables.end(),
                           [&name](const TableLiteral& table) { return table.name == name; });
    return it == m_tables.end() ? nullptr : &*it;
}

PackageBuilder& PackageBuilder::Table(const std::wstring& name, const std::wstring& columns, std::vector<Row> rows)
{
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
    std::move(rows.begin(), rows.end(), std::back_inserter(table->rows));
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

PackageBuilder& PackageBuilder::Component(const std::wstring& name, int attributes, const wchar_t* feature)
{
    // Without a component code the installer reports the installed state as unknown, not absent.
    wchar_t code[39] = {};
    std::swprintf(code, 39, L"{5E0C2A71-8D43-4F96-B21E-%012X}", static_cast<unsigned int>(++m_components));
    Rows(L"Component", {{name, code, L"INSTALLDIR", attributes}});
    return feature ? Rows(L"FeatureComponents", {{feature, name}}) : *this;
}

PackageBuilder& PackageBuilder::File(const std::wstring& key, const std::wstring& component,
                                     const std::wstring& fileName)
{
    return AddRow(L"File",
                  L"`File` CHAR(72) NOT NULL, `Component_` CHAR(72) NOT NULL, `FileName` CHAR(255) NOT NULL, "
                  L"`FileSize` LONG NOT NULL, `Version` CHAR(72), `Language` CHAR(20), `Attributes` SHORT, "
                  L"`Sequence` SHORT NOT NULL PRIMARY KEY `File`",
                  {key, component, fileName, 1, nullptr, nullptr, 0, ++m_files});
}

PackageBuilder& PackageBuilder::CreateFolder(const std::wstring& directory, const std::wstring& component)
{
    return AddRow(L"CreateFolder",
                  L"`Directory_` CHAR(72) NOT NULL, `Component_` CHAR(72) NOT NULL "
                  L"PRIMARY KEY `Directory_`, `Component_`",
                  {directory, component});
}

PackageBuilder& PackageBuilder::Registry(const std::wstring& key, int root, Cell keyText,
                                         const std::wstring& component)
{
    // Key may be null: the installer stores empty text as null, and an empty key is a case to test.
    return AddRow(L"Registry",
                  L"`Registry` CHAR(72) NOT NULL, `Root` SHORT NOT NULL, `Key` CHAR(255), `Name` CHAR(255), "
                  L"`Value` LONGCHAR, `Component_` CHAR(72) NOT NULL PRIMARY KEY `Registry`",
                  {key, root, std::move(keyText), nullptr, nullptr, component});
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
    for (const TableLiteral& table : m_tables) {
        if (result == ERROR_SUCCESS) {
            result = ExecuteSql(database, L"CREATE TABLE `" + table.name + L"` (" + table.columns + L")");
        }
        if (result == ERROR_SUCCESS) {
            result = InsertRows(database, table.name, table.rows);
        }
    }
    if (result == ERROR_SUCCESS) {
        result = WriteSummaryInformation(database);
    }
    if (result == ERROR_SUCCESS) {
        result = ::MsiDatabaseCommit(database);
    }
    if (result != ERROR_SUCCESS) {
        ADD_FAILURE() << "package not written: " << result;
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
    // Our lines read "Qelmora h:mm:ss: text"; [Time] is expanded by the installer.
    const std::wstring prefix = L"Qelmora ";
    if ((messageType & 0xFF000000u) == INSTALLMESSAGE_INFO && message) {
        std::wstring line(message);
        std::size_t separator = line.find(L": ", prefix.size());
        if (line.compare(0, prefix.size(), prefix) == 0 && separator != std::wstring::npos) {
            static_cast<LogCapture*>(context)->m_messages.push_back(line.substr(separator + 2));
        }
    }
    return IDOK;
}

} // namespace qxtest
