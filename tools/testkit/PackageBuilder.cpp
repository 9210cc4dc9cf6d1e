#include "PackageBuilder.h"

#include <msi.h>
#include <msiquery.h>
#include <propidl.h>

#include <algorithm>
#include <cwchar>
#include <filesystem>
#include <fstream>

#include "msi/MsiHandle.h"

namespace qxtest {

namespace {

namespace fs = std::filesystem;

// Each table's column names, types and key columns, as an archive's first three
// lines write them; the installer wants the key columns first. A registry key may
// be null (L255): the installer stores empty text as null.
const std::map<std::wstring, PackageBuilder::TableColumns> kSchemas = {
    {L"Property", {L"Property\tValue", L"s72\tl0", L"Property"}},
    {L"Directory", {L"Directory\tDirectory_Parent\tDefaultDir", L"s72\tS72\tl255", L"Directory"}},
    {L"Component",
     {L"Component\tComponentId\tDirectory_\tAttributes\tCondition\tKeyPath", L"s72\tS38\ts72\ti2\tS255\tS72",
      L"Component"}},
    {L"Feature",
     {L"Feature\tFeature_Parent\tTitle\tDescription\tDisplay\tLevel\tDirectory_\tAttributes",
      L"s38\tS38\tL64\tL255\tI2\ti2\tS72\ti2", L"Feature"}},
    {L"FeatureComponents", {L"Feature_\tComponent_", L"s38\ts72", L"Feature_\tComponent_"}},
    {L"File",
     {L"File\tComponent_\tFileName\tFileSize\tVersion\tLanguage\tAttributes\tSequence",
      L"s72\ts72\tl255\ti4\tS72\tS20\tI2\ti4", L"File"}},
    {L"CreateFolder", {L"Directory_\tComponent_", L"s72\ts72", L"Directory_\tComponent_"}},
    {L"Registry", {L"Registry\tRoot\tKey\tName\tValue\tComponent_", L"s72\ti2\tL255\tL255\tL0\ts72", L"Registry"}},
    {L"Error", {L"Error\tMessage", L"i2\tL0", L"Error"}},
    // The Data column is a stream: its field names a file in the folder Binary.
    {L"Binary", {L"Name\tData", L"s72\tv0", L"Name"}},
    {L"CustomAction", {L"Action\tType\tSource\tTarget\tExtendedType", L"s72\ti2\tS72\tS255\tI4", L"Action"}},
    {L"InstallExecuteSequence", {L"Action\tCondition\tSequence", L"s72\tS255\tI2", L"Action"}},
    {L"ActionText", {L"Action\tDescription\tTemplate", L"s72\tL64\tL128", L"Action"}},
    {L"ServiceInstall",
     {L"ServiceInstall\tName\tDisplayName\tServiceType\tStartType\tErrorControl\tLoadOrderGroup\tDependencies\t"
      L"StartName\tPassword\tArguments\tComponent_\tDescription",
      L"s72\ts255\tL255\ti4\ti4\ti4\tS255\tS255\tS255\tS255\tS255\ts72\tL255", L"ServiceInstall"}},
    {L"QXLockPermissions",
     {L"LockObject\tTable\tDomain\tUser\tPermission\tFlags\tCondition", L"s72\ts32\tS255\ts255\ti4\tI4\tS255",
      L"LockObject\tTable\tDomain\tUser"}}};

bool WriteFile(const fs::path& file, const std::string& bytes)
{
    std::error_code ignored;
    fs::create_directories(file.parent_path(), ignored);
    std::ofstream out(file, std::ios::binary);
    return static_cast<bool>(out.write(bytes.data(), static_cast<std::streamsize>(bytes.size())));
}

// The table's archive text; empty, with the reason in why, when a row cannot be written.
// An archive is ASCII: a tab, a line end or anything else would need its escapes.
std::string Archive(const std::wstring& table, const PackageBuilder::TableColumns& columns,
                    const std::vector<Row>& rows, std::wstring& why)
{
    std::wstring text = columns.names + L"\r\n" + columns.types + L"\r\n" + table + L"\t" + columns.keys + L"\r\n";
    const std::size_t count =
        1 + static_cast<std::size_t>(std::count(columns.names.begin(), columns.names.end(), L'\t'));
    for (const Row& row : rows) {
        for (std::size_t i = 0; i < std::max(count, row.size()); ++i) {
            const std::wstring field = i < row.size() ? row[i].text : std::wstring(); // left out: null
            if (i >= count || std::any_of(field.begin(), field.end(), [](wchar_t c) { return c < 0x20 || c > 0x7E; })) {
                why = L"table " + table + L": a row of " + std::to_wstring(row.size()) + L" fields or the field '" +
                      field + L"' not in printable ASCII";
                return std::string();
            }
            text += (i ? L"\t" : L"") + field;
        }
        text += L"\r\n";
    }
    return std::string(text.begin(), text.end());
}

UINT WriteSummaryInformation(MSIHANDLE database)
{
    qx::unique_msihandle summary;
    UINT result = ::MsiGetSummaryInformationW(database, nullptr, 20, summary.put());
    // Compressed (word count 2), so no source files are looked for.
    for (const auto& field : {std::make_pair(PIDSI_TEMPLATE, L"x64;1033"),
                              std::make_pair(PIDSI_REVNUMBER, L"{0B7C2D44-95E1-4F6A-A3C8-7E52D1F09B36}"),
                              std::make_pair(PIDSI_PAGECOUNT, L"200"), std::make_pair(PIDSI_WORDCOUNT, L"2")}) {
        const bool number = field.first == PIDSI_PAGECOUNT || field.first == PIDSI_WORDCOUNT;
        if (result == ERROR_SUCCESS) {
            result = ::MsiSummaryInfoSetPropertyW(summary.get(), field.first, number ? VT_I4 : VT_LPSTR,
                                                  number ? std::stoi(field.second) : 0, nullptr,
                                                  number ? nullptr : field.second);
        }
    }
    return result == ERROR_SUCCESS ? ::MsiSummaryInfoPersist(summary.get()) : result;
}

} // namespace

PackageBuilder::PackageBuilder()
{
    Rows(L"Property", {{L"ProductCode", L"{6F0D6C1E-2A57-4E0B-9C35-1D7E3A5B8C21}"},
                       {L"ProductName", L"Qelmora Lock Test"},
                       {L"ProductVersion", L"1.0.0"},
                       {L"Manufacturer", L"Qelmora"},
                       {L"ProductLanguage", L"1033"}});
    Rows(L"Directory", {{L"TARGETDIR", nullptr, L"SourceDir"},
                        {L"ProgramFilesFolder", L"TARGETDIR", L"."},
                        {L"INSTALLDIR", L"ProgramFilesFolder", L"QXTest"}});
    Rows(L"Component", {{L"MainComponent", L"{9A4E1C73-5B20-4D8F-B6A1-0E3C7D9F2B84}", L"INSTALLDIR", 256}});
    Rows(L"Feature", {{L"MainFeature", nullptr, L"Main", nullptr, 1, 1, L"INSTALLDIR", 0}});
    Rows(L"FeatureComponents", {{L"MainFeature", L"MainComponent"}});
}

PackageBuilder& PackageBuilder::Columns(const std::wstring& table, std::wstring names, std::wstring types,
                                        std::wstring keys)
{
    m_columns[table] = {std::move(names), std::move(types), std::move(keys)};
    return *this;
}

PackageBuilder& PackageBuilder::Rows(const std::wstring& table, std::vector<Row> rows)
{
    std::vector<Row>& stored = m_tables[table];
    stored.insert(stored.end(), rows.begin(), rows.end());
    return *this;
}

PackageBuilder& PackageBuilder::Property(const std::wstring& name, const std::wstring& value)
{
    return Rows(L"Property", {{name, value}});
}

PackageBuilder& PackageBuilder::Component(const std::wstring& name, int attributes, const wchar_t* feature,
                                          const std::wstring& directory)
{
    // Without a component code the installer reports the installed state as unknown, not absent.
    wchar_t code[39] = {};
    std::swprintf(code, 39, L"{5E0C2A71-8D43-4F96-B21E-%012X}", static_cast<unsigned int>(++m_components));
    Rows(L"Component", {{name, code, directory, attributes}});
    return feature ? Rows(L"FeatureComponents", {{feature, name}}) : *this;
}

PackageBuilder& PackageBuilder::File(const std::wstring& key, const std::wstring& component,
                                     const std::wstring& fileName)
{
    return Rows(L"File", {{key, component, fileName, 1, nullptr, nullptr, 0, ++m_files}});
}

PackageBuilder& PackageBuilder::Registry(const std::wstring& key, int root, Cell keyText, const std::wstring& component)
{
    return Rows(L"Registry", {{key, root, std::move(keyText), nullptr, nullptr, component}});
}

PackageBuilder& PackageBuilder::Service(const std::wstring& key, Cell name, const std::wstring& component)
{
    return Rows(L"ServiceInstall", {{key, std::move(name), nullptr, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                     SERVICE_ERROR_NORMAL, nullptr, nullptr, nullptr, nullptr, nullptr, component}});
}

PackageBuilder& PackageBuilder::Binary(const std::wstring& name, std::string data)
{
    m_binaries[name] = std::move(data);
    return Rows(L"Binary", {{name, name}});
}

std::unique_ptr<Package> PackageBuilder::Build(std::wstring* error) const
{
    wchar_t folder[MAX_PATH + 1] = {}, path[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH, folder);
    ::GetTempFileNameW(folder, L"qxp", 0, path);
    return Build(path, error);
}

std::unique_ptr<Package> PackageBuilder::Build(const std::wstring& path, std::wstring* error) const
{
    // The archives and stream files go into a folder of their own, removed after.
    wchar_t temp[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH, temp);
    const fs::path archives =
        fs::path(temp) / (L"qxa" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                          std::to_wstring(::GetTickCount64()) + L"-" + fs::path(path).stem().wstring());
    auto package = std::make_unique<Package>(path);
    qx::unique_msihandle database;
    std::wstring why;
    UINT result = ::MsiOpenDatabaseW(path.c_str(), MSIDBOPEN_CREATE, database.put());
    for (auto table = m_tables.begin(); table != m_tables.end() && result == ERROR_SUCCESS && why.empty(); ++table) {
        auto own = m_columns.find(table->first);
        auto known = kSchemas.find(table->first);
        if (own == m_columns.end() && known == kSchemas.end()) {
            why = L"no columns known for table " + table->first;
            break;
        }
        const std::string text =
            Archive(table->first, own != m_columns.end() ? own->second : known->second, table->second, why);
        if (why.empty() && !WriteFile(archives / (table->first + L".idt"), text)) {
            why = L"table " + table->first + L": the archive cannot be written";
        }
        // The installer reads a stream field's file from a folder named after the table.
        for (auto binary = m_binaries.begin(); table->first == L"Binary" && binary != m_binaries.end(); ++binary) {
            if (why.empty() && !WriteFile(archives / L"Binary" / binary->first, binary->second)) {
                why = L"the stream of " + binary->first + L" cannot be written";
            }
        }
        if (why.empty()) {
            result = ::MsiDatabaseImportW(database.get(), archives.c_str(), (table->first + L".idt").c_str());
        }
    }
    if (result == ERROR_SUCCESS && why.empty()) {
        result = WriteSummaryInformation(database.get());
    }
    if (result == ERROR_SUCCESS && why.empty()) {
        result = ::MsiDatabaseCommit(database.get());
    }
    std::error_code ignored;
    fs::remove_all(archives, ignored);
    if (result != ERROR_SUCCESS && why.empty()) {
        why = L"msi.dll refused the package: " + std::to_wstring(result);
    }
    if (!why.empty() && error) {
        *error = why;
    }
    return why.empty() ? std::move(package) : nullptr;
}

} // namespace qxtest
