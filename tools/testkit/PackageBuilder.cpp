#include "PackageBuilder.h"

#include <msi.h>
#include <msiquery.h>
#include <propidl.h>

#include <algorithm>
#include <cwchar>
#include <iterator>

#include "msi/MsiHandle.h"
#include "support/unique_any.h"

namespace qxtest {

namespace {

// The first three lines of each table's archive: column names, column types, and
// the table with its key columns. The installer wants key columns first and
// contiguous. A registry key may be null (L255): the installer stores empty text
// as null, and an empty key is a case to test.
struct Schema {
    std::wstring names;
    std::wstring types;
    std::wstring keys;
};

const std::map<std::wstring, Schema> kSchemas = {
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
    {L"QXLockPermissions",
     {L"LockObject\tTable\tDomain\tUser\tPermission\tFlags", L"s72\ts32\tS255\ts255\ti4\tI4",
      L"LockObject\tTable\tDomain\tUser"}},
};

// An archive is ASCII text; a tab, a line end or another control character in a
// field would need the archive's own escapes, which no package here needs.
bool Archivable(const std::wstring& text)
{
    for (wchar_t c : text) {
        if (c < 0x20 || c > 0x7E) {
            return false;
        }
    }
    return true;
}

// A folder of its own for the archives and the stream files beside them,
// removed with what it holds.
class ArchiveFolder {
public:
    ArchiveFolder()
    {
        // The system's unique temporary name, made into a folder.
        wchar_t temp[MAX_PATH + 1] = {};
        wchar_t name[MAX_PATH + 1] = {};
        if (::GetTempPathW(MAX_PATH, temp) && ::GetTempFileNameW(temp, L"qxa", 0, name) && ::DeleteFileW(name) &&
            ::CreateDirectoryW(name, nullptr)) {
            m_path = name;
        }
    }
    ArchiveFolder(const ArchiveFolder&) = delete;
    ArchiveFolder& operator=(const ArchiveFolder&) = delete;
    ~ArchiveFolder()
    {
        for (const std::wstring& file : m_files) {
            ::DeleteFileW((m_path + L"\\" + file).c_str());
        }
        for (auto folder = m_folders.rbegin(); folder != m_folders.rend(); ++folder) {
            ::RemoveDirectoryW((m_path + L"\\" + *folder).c_str());
        }
        ::RemoveDirectoryW(m_path.c_str());
    }

    const std::wstring& Path() const noexcept { return m_path; }

    // Writes bytes into the file at relative (one folder level at most, made when
    // missing); false when it cannot.
    bool Write(const std::wstring& relative, const std::string& bytes)
    {
        const std::size_t slash = relative.find(L'\\');
        if (slash != std::wstring::npos) {
            const std::wstring folder = relative.substr(0, slash);
            if (std::find(m_folders.begin(), m_folders.end(), folder) == m_folders.end()) {
                if (!::CreateDirectoryW((m_path + L"\\" + folder).c_str(), nullptr)) {
                    return false;
                }
                m_folders.push_back(folder);
            }
        }
        qx::unique_file file(::CreateFileW((m_path + L"\\" + relative).c_str(), GENERIC_WRITE, 0, nullptr,
                                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            return false;
        }
        m_files.push_back(relative);
        DWORD written = 0;
        return ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
               written == bytes.size();
    }

private:
    std::wstring m_path;
    std::vector<std::wstring> m_folders;
    std::vector<std::wstring> m_files;
};

// One table's archive, written into the folder as <table>.idt; empty when written,
// otherwise why not.
std::wstring WriteArchive(ArchiveFolder& folder, const std::wstring& table, const Schema& schema,
                          const std::vector<Row>& rows)
{
    std::wstring text = schema.names + L"\r\n" + schema.types + L"\r\n" + table + L"\t" + schema.keys + L"\r\n";
    const std::size_t columns =
        1 + static_cast<std::size_t>(std::count(schema.names.begin(), schema.names.end(), L'\t'));
    for (const Row& row : rows) {
        if (row.size() > columns) {
            return L"table " + table + L": a row of " + std::to_wstring(row.size()) + L" fields";
        }
        // Fields a row leaves out are null: every line holds all the columns.
        for (std::size_t i = 0; i < columns; ++i) {
            const std::wstring& field = i < row.size() ? row[i].Text() : std::wstring();
            if (!Archivable(field)) {
                return L"table " + table + L": the field '" + field + L"' is not printable ASCII";
            }
            text += (i ? L"\t" : L"") + field;
        }
        text += L"\r\n";
    }
    const std::string bytes(text.begin(), text.end()); // ASCII, checked above
    if (!folder.Write(table + L".idt", bytes)) {
        return L"table " + table + L": the archive cannot be written";
    }
    return std::wstring();
}

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

} // namespace

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

PackageBuilder& PackageBuilder::Columns(const std::wstring& table, std::wstring names, std::wstring types,
                                        std::wstring keys)
{
    m_columns[table] = {std::move(names), std::move(types), std::move(keys)};
    return *this;
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

PackageBuilder& PackageBuilder::Registry(const std::wstring& key, int root, Cell keyText, const std::wstring& component)
{
    return Rows(L"Registry", {{key, root, std::move(keyText), nullptr, nullptr, component}});
}

PackageBuilder& PackageBuilder::Binary(const std::wstring& name, std::string data)
{
    m_streams[L"Binary"][name] = std::move(data);
    return Rows(L"Binary", {{name, name}});
}

std::unique_ptr<Package> PackageBuilder::Build(std::wstring* error) const
{
    wchar_t folder[MAX_PATH + 1] = {};
    wchar_t path[MAX_PATH + 1] = {};
    if (!::GetTempPathW(MAX_PATH, folder) || !::GetTempFileNameW(folder, L"qxp", 0, path)) {
        if (error) {
            *error = L"no temporary file for the package";
        }
        return nullptr;
    }
    return Build(path, error);
}

std::unique_ptr<Package> PackageBuilder::Build(const std::wstring& path, std::wstring* error) const
{
    std::wstring why;
    auto package = std::make_unique<Package>(path);
    ArchiveFolder archives;
    qx::unique_msihandle database;
    UINT result = archives.Path().empty() ? ERROR_PATH_NOT_FOUND
                                          : ::MsiOpenDatabaseW(path.c_str(), MSIDBOPEN_CREATE, database.put());
    for (auto table = m_tables.begin(); table != m_tables.end() && result == ERROR_SUCCESS && why.empty(); ++table) {
        Schema schema;
        auto own = m_columns.find(table->first);
        auto known = kSchemas.find(table->first);
        if (own != m_columns.end()) {
            schema = {own->second.names, own->second.types, own->second.keys};
        } else if (known != kSchemas.end()) {
            schema = known->second;
        } else {
            why = L"no columns known for table " + table->first;
            break;
        }
        why = WriteArchive(archives, table->first, schema, table->second);
        auto streams = m_streams.find(table->first);
        if (why.empty() && streams != m_streams.end()) {
            // The installer reads a stream field's file from a folder named after the table.
            for (const auto& stream : streams->second) {
                if (!archives.Write(table->first + L"\\" + stream.first, stream.second)) {
                    why = L"table " + table->first + L": the stream file " + stream.first + L" cannot be written";
                    break;
                }
            }
        }
        if (why.empty()) {
            result = ::MsiDatabaseImportW(database.get(), archives.Path().c_str(), (table->first + L".idt").c_str());
        }
    }
    if (result == ERROR_SUCCESS && why.empty()) {
        result = WriteSummaryInformation(database.get());
    }
    if (result == ERROR_SUCCESS && why.empty()) {
        result = ::MsiDatabaseCommit(database.get());
    }
    if (result != ERROR_SUCCESS && why.empty()) {
        why = L"msi.dll refused the package: " + std::to_wstring(result);
    }
    if (!why.empty()) {
        if (error) {
            *error = why;
        }
        return nullptr;
    }
    return package;
}

} // namespace qxtest
