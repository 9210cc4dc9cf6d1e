// Record strings and the installer error reporter with the exception it raises.
#include "InstallerFixture.h"
#include "msi/Queries.h"
#include "msi/Views.h"
#include "support/com_exception.h"

using namespace qxtest;

namespace {

// Raises through CheckMsiResult and hands back what was caught.
template <class Call> com_exception CatchComException(Call call)
{
    try {
        call();
    } catch (const com_exception& error) {
        return error;
    }
    ADD_FAILURE() << "no com_exception was raised";
    return com_exception(S_OK);
}

std::wstring SystemText(HRESULT hr)
{
    wchar_t text[1024] = {};
    DWORD length = ::FormatMessageW(FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM, nullptr,
                                    static_cast<DWORD>(hr), 0, text, 1024, nullptr);
    return std::wstring(text, length);
}

} // namespace

TEST(CheckMsiResult, MapsResultAndNamesTheCallAfterTheErrorText)
{
    const struct {
        UINT result;
        HRESULT expected;
        const wchar_t* argument1;
        const wchar_t* argument2;
        const wchar_t* tail;
    } cases[] = {
        {1627, static_cast<HRESULT>(0x8007065B), L"", L"", L"MsiViewExecute()"},
        {1627, static_cast<HRESULT>(0x8007065B), L"", L"ignored", L"MsiViewExecute()"},
        {ERROR_BAD_QUERY_SYNTAX, static_cast<HRESULT>(0x8007064F), L"File", L"", L"MsiViewExecute(File)"},
        {static_cast<UINT>(E_FAIL), E_FAIL, L"File", L"Main", L"MsiViewExecute(File, Main)"}, // already an HRESULT
    };
    EXPECT_NO_THROW(CheckMsiResult(ERROR_SUCCESS, L"MsiViewExecute"));
    for (const auto& c : cases) {
        com_exception error =
            CatchComException([&] { CheckMsiResult(c.result, L"MsiViewExecute", c.argument1, c.argument2); });
        EXPECT_EQ(c.expected, error.Error()) << c.result;
        // Without an installer error record the error text is the system's.
        EXPECT_EQ(SystemText(c.expected) + c.tail, error.Description().str());
    }
}

class ViewsTest : public InstallerTest { };

// Keys go into the queries unquoted: an apostrophe breaks the query.
TEST_F(ViewsTest, KeyWithApostropheBreaksTheQuery)
{
    PackageBuilder builder;
    builder.File(L"MainExe", L"MainComponent", L"main.exe");
    ASSERT_NO_FATAL_FAILURE(StartSession(builder));
    qx::unique_msihandle database(::MsiGetActiveDatabase(Session()));
    qx::unique_msihandle view;
    qx::unique_msihandle record;
    ASSERT_EQ(0u, OpenExecuteFetch(&view, database.get(), &record, g_strQueryFile.c_str(), L"MainExe"));
    EXPECT_EQ(L"main.exe", GetRecordString(record.get(), 3));

    record.reset();
    com_exception error =
        CatchComException([&] { OpenExecuteFetch(&view, database.get(), &record, g_strQueryFile.c_str(), L"it's"); });
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_BAD_QUERY_SYNTAX), error.Error());
    EXPECT_EQ(SystemText(error.Error()) + L"MsiOpenDatabaseView()", error.Description().str());
    EXPECT_EQ(0u, record.get());
}

TEST(GetRecordString, ReadsFieldsOfAnyLength)
{
    // 2047 characters fit the first read; 2048 need the second.
    for (std::size_t length : {0u, 1u, 2047u, 2048u, 5000u}) {
        qx::unique_msihandle record(::MsiCreateRecord(1));
        std::wstring text(length, L'x');
        if (length) {
            text.back() = L'!';
            ASSERT_EQ(0u, ::MsiRecordSetStringW(record.get(), 1, text.c_str()));
        }
        EXPECT_EQ(text, GetRecordString(record.get(), 1)) << length;
    }
    EXPECT_EQ(0u, ::MsiCloseAllHandles());
}
