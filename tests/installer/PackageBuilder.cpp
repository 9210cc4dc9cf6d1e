#include "PackageBuilder.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <iterator>
#include <propidl.h>

namespace qxtest {

namespace {

// The columns of every table a test package may hold; the installer wants key
// columns first and contiguous. A registry key may be null: the installer stores
// empty text as null, and an empty key is a case to test.
const std::map<std::wstring, const wchar_t*> kColumns = {
    {L"Property", L"`Property` CHAR(72) NOT NULL, `Value` LONGCHAR NOT NULL PRIMARY KEY `Property`"},
    {L"Directory", L"`Directory` CHAR(72) NOT NULL, `Directory_Parent` CHAR(72), `DefaultDir` CHAR(255) NOT NULL "
                   L"PRIMARY KEY `Directory`"},
    {L"Component", L"`Component` CHAR(72) NOT NULL, `ComponentId` CHAR(38), `Directory_` CHAR(72) NOT NULL, "
                   L"`Attributes` SHORT NOT NULL, `Condition` CHAR(255), `KeyPath` CHAR(72) PRIMARY KEY `Component`"},
    {L"Feature", L"`Feature` CHAR(38) NOT NULL, `Feature_Parent` CHAR(38), `Title` CHAR(64), `Description` "
                 L"CHAR(255), `Display` SHORT, `Level` SHORT NOT NULL, `Directory_` CHAR(72), `Attributes` SHORT NOT "
                 L"NULL PRIMARY KEY `Feature`"},
    {L"FeatureComponents",
     L"`Feature_` CHAR(38) NOT NULL, `Component_` CHAR(72) NOT NULL PRIMARY KEY `Feature_`, `Component_`"},
    {L"File", L"`File` CHAR(72) NOT NULL, `Component_` CHAR(72) NOT NULL, `FileName` CHAR(255) NOT NULL, "
              L"`FileSize` LONG NOT NULL, `Version` CHAR(72), `Language` CHAR(20), `Attributes` SHORT, `Sequence` "
              L"SHORT NOT NULL PRIMARY KEY `File`"},
    {L"CreateFolder",
     L"`Directory_` CHAR(72) NOT NULL, `Component_` CHAR(72) NOT NULL PRIMARY KEY `Directory_`, `Component_`"},
    {L"Registry", L"`Registry` CHAR(72) NOT NULL, `Root` SHORT NOT NULL, `Key` CHAR(255), `Name` CHAR(255), "
                  L"`Value` LONGCHAR, `Component_` CHAR(72) NOT NULL PRIMARY KEY `Registry`"},
    {L"Error", L"`Error` SHORT NOT NULL, `Message` CHAR(0) PRIMARY KEY `Error`"},
    {L"QXLockPermissions", L"`LockObject` CHAR(72) NOT NULL, `Table` CHAR(32) NOT NULL, `Domain` CHAR(255), "
                           L"`User` CHAR(255) NOT NULL, `Permission` LONG NOT NULL, `Flags` LONG "
                           L"PRIMARY KEY `LockObject`, `Table`, `Domain`, `User`"},
};

UINT WriteSummaryInformation(MSIHANDLE database)
{
    qx::unique_msihandle summary;
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
            result = ::MsiSummaryInfoSetPropertyW(summary.get(), field.id, field.text ? VT_LPSTR : VT_I4, field.value,
                                                  nullptr, field.text);
        }
    }
    return result == ERROR_SUCCESS ? ::MsiSummaryInfoPersist(summary.get()) : result;
}

UINT InsertRows(MSIHANDLE database, const std::wstring& table, const std::vector<Row>& rows)
{
    qx::unique_msihandle view;
    UINT result = ::MsiDatabaseOpenViewW(database, (L"SELECT * FROM `" + table + L"`").c_str(), view.put());
    if (result == ERROR_SUCCESS) {
        result = ::MsiViewExecute(view.get(), 0);
    }
    for (const Row& row : rows) {
        qx::unique_msihandle record(::MsiCreateRecord(static_cast<UINT>(row.size())));
        for (std::size_t i = 0; i < row.size() && result == ERROR_SUCCESS; ++i) {
            result = row[i].WriteTo(record.get(), static_cast<UINT>(i + 1));
        }
        if (result == ERROR_SUCCESS) {
            result = ::MsiViewModify(view.get(), MSIMODIFY_INSERT, record.get());
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
    qx::unique_msihandle view;
    UINT result = ::MsiDatabaseOpenViewW(database, query.c_str(), view.put());
    return result == ERROR_SUCCESS ? ::MsiViewExecute(view.get(), 0) : result;
}

PackageBuilder::PackageBuilder()
{
    Rows(L"Property", {
                          {L"ProductCode", L"{6F0D6C1E-2A57-4E0B-9C35-1D7E3A5B8C21}"},
                          {L"ProductName", L"Qelmora Lock Test"},
                          {L"ProductVersion", L"1.0.0"},
                          {L"Manufacturer", L"Qelmora"},
                          {L"ProductLanguage", L"1033"},
                      });
    Rows(L"Directory", {
                           {L"TARGETDIR", nullptr, L"SourceDir"},
                           {L"ProgramFilesFolder", L"TARGETDIR", L"."},
                           {L"INSTALLDIR", L"ProgramFilesFolder", L"QXTest"},
                       });
    Rows(L"Component", {{L"MainComponent", L"{9A4E1C73-5B20-4D8F-B6A1-0E3C7D9F2B84}", L"INSTALLDIR", 256}});
    Rows(L"Feature", {{L"MainFeature", nullptr, L"Main", nullptr, 1, 1, L"INSTALLDIR", 0}});
    Rows(L"FeatureComponents", {{L"MainFeature", L"MainComponent"}});
}

PackageBuilder& PackageBuilder::Rows(const std::wstring& table, std::vector<Row> rows)
{
    std::vector<Row>& stored = m_tables[table];
    std::move(rows.begin(), rows.end(), std::back_inserter(stored));
    return *this;
}

PackageBuilder& PackageBuilder::Property(const std::wstring& name, const std::wstring& value)
{
    return Rows(L"Property", {{name, value}});
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
    return Rows(L"File", {{key, component, fileName, 1, nullptr, nullptr, 0, ++m_files}});
}

PackageBuilder& PackageBuilder::Registry(const std::wstring& key, int root, Cell keyText,
                                         const std::wstring& component)
{
    return Rows(L"Registry", {{key, root, std::move(keyText), nullptr, nullptr, component}});
}

std::unique_ptr<Package> PackageBuilder::Build() const
{
    wchar_t folder[MAX_PATH + 1] = {};
    wchar_t path[MAX_PATH + 1] = {};
    if (!::GetTempPathW(MAX_PATH, folder) || !::GetTempFileNameW(folder, L"qxp", 0, path)) {
        ADD_FAILURE() << "no temporary file for the package";
        return nullptr;
    }
    auto package = std::make_unique<Package>(path);
    qx::unique_msihandle database;
    UINT result = ::MsiOpenDatabaseW(package->Path().c_str(), MSIDBOPEN_CREATE, database.put());
    for (const auto& table : m_tables) {
        auto columns = kColumns.find(table.first);
        if (columns == kColumns.end()) {
            ADD_FAILURE() << L"no columns known for table " << table.first;
            return nullptr;
        }
        if (result == ERROR_SUCCESS) {
            result = ExecuteSql(database.get(), L"CREATE TABLE `" + table.first + L"` (" + columns->second + L")");
        }
        if (result == ERROR_SUCCESS) {
            result = InsertRows(database.get(), table.first, table.second);
        }
    }
    if (result == ERROR_SUCCESS) {
        result = WriteSummaryInformation(database.get());
    }
    if (result == ERROR_SUCCESS) {
        result = ::MsiDatabaseCommit(database.get());
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
