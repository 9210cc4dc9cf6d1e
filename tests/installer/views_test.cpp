// Views, record strings, the installer error reporter and the exception it raises.
#include <stdexcept>

#include "InstallerFixture.h"
#include "msi/Queries.h"
#include "msi/Views.h"
#include "support/com_exception.h"
#include "support/com_holders.h"

using namespace qxtest;

namespace {

std::wstring SystemText(HRESULT hr)
{
    qx::local_holder<wchar_t> text;
    DWORD length = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                                        FORMAT_MESSAGE_FROM_SYSTEM,
                                    nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<LPWSTR>(text.put()), 0,
                                    nullptr);
    return length ? std::wstring(text.get(), length) : std::wstring();
}

bool EndsWith(const std::wstring& text, const std::wstring& tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Raises through CheckMsiResult and hands back what was caught.
template <class Call>
com_exception CatchComException(Call call)
{
    try {
        call();
    } catch (const com_exception& error) {
        return error;
    }
    throw std::logic_error("no com_exception was raised");
}

void SetThreadError(const wchar_t* description, const wchar_t* source, const GUID& guid)
{
    qx::com_ptr<ICreateErrorInfo> create;
    ASSERT_EQ(S_OK, ::CreateErrorInfo(create.put()));
    create->SetDescription(const_cast<LPOLESTR>(description));
    create->SetSource(const_cast<LPOLESTR>(source));
    create->SetGUID(guid);
    qx::com_ptr<IErrorInfo> info;
    ASSERT_EQ(S_OK, create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(info.put())));
    ASSERT_EQ(S_OK, ::SetErrorInfo(0, info.get()));
}

const GUID kZeroGuid{};

} // namespace

TEST(CheckMsiResult, SuccessLeavesThreadErrorInformationAlone)
{
    ASSERT_NO_FATAL_FAILURE(SetThreadError(L"untouched", L"", kZeroGuid));
    EXPECT_NO_THROW(CheckMsiResult(ERROR_SUCCESS, L"MsiViewExecute"));
    qx::com_ptr<IErrorInfo> info;
    ASSERT_EQ(S_OK, ::GetErrorInfo(0, info.put()));
    qx::bstr_holder description;
    ASSERT_EQ(S_OK, info->GetDescription(description.put()));
    EXPECT_STREQ(L"untouched", description.get());
}

TEST(CheckMsiResult, MapsResultToHresult)
{
    const struct {
        UINT result;
        HRESULT expected;
    } cases[] = {
        {1627, static_cast<HRESULT>(0x8007065B)},
        {ERROR_BAD_QUERY_SYNTAX, static_cast<HRESULT>(0x8007064F)},
        {0x0001ABCD, static_cast<HRESULT>(0x8007ABCD)},
        {static_cast<UINT>(E_FAIL), E_FAIL}, // already an HRESULT
    };
    for (const auto& c : cases) {
        com_exception error = CatchComException([&] { CheckMsiResult(c.result, L"MsiViewFetch"); });
        EXPECT_EQ(c.expected, error.Error()) << c.result;
    }
}

TEST(CheckMsiResult, DescriptionNamesTheCallAfterTheErrorText)
{
    const struct {
        const wchar_t* argument1;
        const wchar_t* argument2;
        const wchar_t* tail;
    } cases[] = {
        {L"", L"", L"MsiViewExecute()"},
        {L"", L"ignored", L"MsiViewExecute()"},
        {L"File", L"", L"MsiViewExecute(File)"},
        {L"File", L"Main", L"MsiViewExecute(File, Main)"},
    };
    const HRESULT hr = static_cast<HRESULT>(0x8007065B);
    for (const auto& c : cases) {
        com_exception error =
            CatchComException([&] { CheckMsiResult(1627, L"MsiViewExecute", c.argument1, c.argument2); });
        // Without an installer error record the error text is the system's.
        EXPECT_EQ(SystemText(hr) + c.tail, error.Description().str());
        EXPECT_TRUE(error.Source().empty());
        EXPECT_TRUE(IsEqualGUID(kZeroGuid, error.Guid()));
        EXPECT_TRUE(IsEqualGUID(kZeroGuid, error.Clsid()));
    }
}

TEST(CheckMsiResult, OnlyTheFirstExceptionTakesTheDescription)
{
    const HRESULT hr = static_cast<HRESULT>(0x8007065B);
    com_exception first = CatchComException([] { CheckMsiResult(1627, L"MsiViewExecute"); });
    com_exception second(hr);
    EXPECT_TRUE(EndsWith(first.Description().str(), L"MsiViewExecute()"));
    EXPECT_EQ(SystemText(hr), second.Description().str());
}

class ViewsTest : public InstallerTest {
protected:
    void SetUp() override
    {
        PackageBuilder builder;
        builder.Rows(L"Component", {{L"SecondComponent", nullptr, L"INSTALLDIR", 256, nullptr, nullptr}})
            .Table(L"File", kFileColumns, {{L"MainExe", L"MainComponent", L"main.exe", 10, nullptr, nullptr, 0, 1}})
            .Table(L"CreateFolder", kCreateFolderColumns,
                   {{L"INSTALLDIR", L"MainComponent"}, {L"INSTALLDIR", L"SecondComponent"}});
        ASSERT_NO_FATAL_FAILURE(StartSession(builder));
        m_database = ActiveDatabase();
    }
    void TearDown() override
    {
        m_database.reset();
        InstallerTest::TearDown();
    }

    CMsiHandle m_database;
};

TEST_F(ViewsTest, OpenExecuteFetchReturnsFirstRowOrNoMoreItems)
{
    const struct {
        const _stringx<>* query;
        const wchar_t* key;
        UINT expected;
        UINT field;
        const wchar_t* value;
    } cases[] = {
        {&g_strQueryFile, L"MainExe", 0, 3, L"main.exe"},
        {&g_strQueryComponent, L"SecondComponent", 0, 3, L"INSTALLDIR"},
        {&g_strQueryFile, L"Missing", ERROR_NO_MORE_ITEMS, 0, nullptr},
    };
    // One view holder for all queries: each call must close the view it held.
    CMsiHandle view;
    for (const auto& c : cases) {
        CMsiHandle record;
        UINT result = OpenExecuteFetch(&view, m_database, &record, c.query->c_str(), c.key);
        EXPECT_EQ(c.expected, result) << Narrow(c.key);
        EXPECT_NE(0u, view.get());
        if (c.value) {
            EXPECT_EQ(c.value, GetRecordString(record, c.field));
        } else {
            EXPECT_EQ(0u, record.get());
        }
    }
}

TEST_F(ViewsTest, OpenExecuteLeavesTheRowsToTheCaller)
{
    CMsiHandle view;
    ASSERT_EQ(0u, OpenExecute(&view, m_database, g_strQueryCreateFolder.c_str(), L"INSTALLDIR"));
    std::vector<std::wstring> components;
    for (;;) {
        CMsiHandle record;
        if (::MsiViewFetch(view, record.put()) != ERROR_SUCCESS) {
            break;
        }
        components.push_back(GetRecordString(record, 2));
    }
    std::sort(components.begin(), components.end());
    EXPECT_EQ((std::vector<std::wstring>{L"MainComponent", L"SecondComponent"}), components);
}

TEST_F(ViewsTest, KeyWithApostropheBreaksTheQuery)
{
    CMsiHandle view;
    CMsiHandle record;
    com_exception error = CatchComException(
        [&] { OpenExecuteFetch(&view, m_database, &record, g_strQueryFile.c_str(), L"it's"); });
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_BAD_QUERY_SYNTAX), error.Error());
    EXPECT_TRUE(EndsWith(error.Description().str(), L"MsiOpenDatabaseView()")) << error.what();
    EXPECT_EQ(0u, record.get());
}

TEST(GetRecordString, ReadsFieldsOfAnyLength)
{
    // 2047 characters fit the first read; 2048 need the second.
    for (std::size_t length : {0u, 1u, 2047u, 2048u, 5000u}) {
        CMsiHandle record(::MsiCreateRecord(1));
        std::wstring text(length, L'x');
        if (length) {
            text.back() = L'!';
            ASSERT_EQ(0u, ::MsiRecordSetStringW(record, 1, text.c_str()));
        }
        EXPECT_EQ(text, GetRecordString(record, 1)) << length;
    }
    EXPECT_EQ(0u, ::MsiCloseAllHandles());
}

TEST(GetRecordString, InvalidRecordRaises)
{
    com_exception error = CatchComException([] { GetRecordString(0, 1); });
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE), error.Error());
    EXPECT_TRUE(EndsWith(error.Description().str(), L"MsiRecordGetString()")) << error.what();
}
