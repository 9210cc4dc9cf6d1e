// Reads of installer text and properties: values longer than the first buffer
// take a second read. And the removal of an extracted helper.
#include "InstallerFixture.h"
#include "helper64/ExtractHelper.h"
#include "msi/Properties.h"

using namespace qxtest;

class ManagerTest : public InstallerTest { };

TEST_F(ManagerTest, FormatInstallerTextExpandsPropertyReferences)
{
    const std::wstring longValue(300, L'L');
    PackageBuilder builder;
    builder.Property(L"QXUser", L"alice").Property(L"QXLong", longValue);
    ASSERT_NO_FATAL_FAILURE(StartSession(builder));

    const struct {
        const wchar_t* text;
        std::wstring expected;
    } cases[] = {
        {L"DOMAIN\\[QXUser]", L"DOMAIN\\alice"},
        {L"", L""},
        {L"[QXMissing]tail", L"tail"},
        {L"[QXLong]", longValue},
        {L"[QXLong][QXLong]x", longValue + longValue + L"x"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, FormatInstallerText(Session(), c.text).str()) << c.text;
    }
}

TEST_F(ManagerTest, GetPropertyReadsValuesOfAnyLength)
{
    ASSERT_NO_FATAL_FAILURE(StartSession(PackageBuilder()));
    for (std::size_t length : {1u, 259u, 260u, 261u, 1000u}) {
        std::wstring value(length, L'v');
        value.back() = L'!';
        ASSERT_EQ(0u, SetProperty(L"QXValue", value));
        EXPECT_EQ(value, ::GetProperty(Session(), L"QXValue").str()) << length;
    }
    EXPECT_TRUE(::GetProperty(Session(), L"QXNeverSet").empty());
}

// An extracted helper and its folder are removed; a helper file that stays locked
// through every attempt is left, folder and all.
TEST_F(ManagerTest, HelperFileIsRemovedUnlessItStaysLocked)
{
    ASSERT_NO_FATAL_FAILURE(StartSession(PackageBuilder()));
    for (bool locked : {false, true}) {
        SCOPED_TRACE(locked ? "locked" : "free");
        wchar_t temp[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, temp);
        const std::wstring folder = std::wstring(temp) + (locked ? L"qxhelper-locked" : L"qxhelper-free");
        const std::wstring file = folder + L"\\wac1.tmp";
        ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
        // No delete sharing: DeleteFileW fails while this handle is open.
        HANDLE handle = ::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(handle, INVALID_HANDLE_VALUE);
        if (!locked) {
            ::CloseHandle(handle);
        }
        RemoveHelperExecutable(file.c_str());
        EXPECT_EQ(locked, ::GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(locked, ::GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES);
        if (locked) {
            ::CloseHandle(handle);
            ::DeleteFileW(file.c_str());
            ::RemoveDirectoryW(folder.c_str());
        }
    }
}
