#include <gtest/gtest.h>

#include "apply/ApplyTestSupport.h"

using namespace applytest;

namespace {

const wchar_t kLookupLine[] = L"ResolveSidForAccountName: looking up account name '";

class AccountResolution : public ::testing::Test {
protected:
    void SetUp() override { LocalMemoryTracker::Install(object); }

    void TearDown() override
    {
        EXPECT_EQ(LocalMemoryTracker::Live(), 0u) << "a SID or buffer was not released";
        EXPECT_EQ(LocalMemoryTracker::UnknownFrees(), 0) << "released memory that was never handed out";
    }

    // Resolves and releases the SID; returns its text.
    std::wstring Resolve(const std::wstring& domain, const std::wstring& user, DWORD* result)
    {
        PSID sid = nullptr;
        *result = object.ResolveItemSid(domain.c_str(), user.c_str(), &sid);
        std::wstring text = SidText(sid);
        EXPECT_EQ(*result == ERROR_SUCCESS, sid != nullptr);
        ::LocalFree(sid);
        return text;
    }

    LocalMemoryTracker tracker;
    TestSecureObject object;
};

struct Resolved {
    const wchar_t* domain;
    const wchar_t* user;
    const wchar_t* sid;
};

// Names that never reach the account lookup: well-known names in any case (the
// domain plays no part) and string SIDs with either prefix case.
const Resolved kWithoutLookup[] = {
    {L"", L"Everyone", L"S-1-1-0"},
    {L"", L"everyone", L"S-1-1-0"},
    {L"", L"EVERYONE", L"S-1-1-0"},
    {L"", L"authenticated users", L"S-1-5-11"},
    {L"BUILTIN", L"Users", L"S-1-5-32-545"},
    {L"BUILTIN", L"Administrators", L"S-1-5-32-544"},
    {L"", L"ADMINISTRATORS", L"S-1-5-32-544"},
    {L"", L"Local System", L"S-1-5-18"},
    {L"", L"local service", L"S-1-5-19"},
    {L"", L"Network Service", L"S-1-5-20"},
    {L"", L"guests", L"S-1-5-32-546"},
    {L"", L"Creator Owner", L"S-1-3-0"},
    {L"", L"interactive", L"S-1-5-4"},
    {L"", L"POWER USERS", L"S-1-5-32-547"},
    {L"", L"Remote Desktop Users", L"S-1-5-32-555"},
    {L"", L"S-1-5-32-544", L"S-1-5-32-544"},
    {L"CORP", L"s-1-5-18", L"S-1-5-18"},
};

BOOL WINAPI LookupGivesInvalidSid(LPCWSTR, LPCWSTR, PSID, LPDWORD, LPWSTR, LPDWORD, PSID_NAME_USE)
{
    ::SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL WINAPI LookupFailsWithTrustError(LPCWSTR, LPCWSTR, PSID, LPDWORD, LPWSTR, LPDWORD, PSID_NAME_USE)
{
    ::SetLastError(ERROR_TRUSTED_DOMAIN_FAILURE);
    return FALSE;
}

} // namespace

TEST_F(AccountResolution, WellKnownNamesAndStringSidsNeedNoLookup)
{
    for (const Resolved& row : kWithoutLookup) {
        SCOPED_TRACE(testing::Message() << "user " << _stringx<>(row.user).narrow());
        DWORD result = 1;
        EXPECT_EQ(Resolve(row.domain, row.user, &result), row.sid);
        EXPECT_EQ(result, 0u);
    }
    EXPECT_TRUE(object.lines.empty()) << "first line: " << _stringx<>(object.lines.front().c_str()).narrow();

    // IUSR comes from the table only where the system can build its SID.
    BYTE buffer[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(buffer);
    bool systemKnowsIUser = ::CreateWellKnownSid(WinIUserSid, nullptr, buffer, &size) != FALSE;
    DWORD result = 1;
    std::wstring sid = Resolve(L"", L"iusr", &result);
    if (systemKnowsIUser) {
        EXPECT_EQ(sid, L"S-1-5-17");
        EXPECT_TRUE(object.lines.empty());
    } else {
        EXPECT_EQ(object.lines.front(), kLookupLine + std::wstring(L"iusr'"));
    }
}

TEST_F(AccountResolution, LookupNameJoinsDomainAndAccountWithOneBackslash)
{
    const struct {
        const wchar_t* domain;
        const wchar_t* user;
        const wchar_t* lookedUp;
    } rows[] = {
        {L"CORP", L"jdoe", L"CORP\\jdoe"},
        {L"CORP\\", L"jdoe", L"CORP\\jdoe"},
        {L"CORP", L"\\jdoe", L"CORP\\jdoe"},
        {L"CORP\\", L"\\jdoe", L"CORP\\jdoe"},
        {L"CORP", L"", L"CORP"},
        {L"", L"jdoe", L"jdoe"},
        // Not quite a well-known name, not quite a string SID.
        {L"", L"Everyone ", L"Everyone "},
        {L"", L"S-Admins", L"S-Admins"},
    };
    for (const auto& row : rows) {
        object.lines.clear();
        DWORD result = 0;
        Resolve(row.domain, row.user, &result);
        std::wstring expected = kLookupLine + std::wstring(row.lookedUp) + L"'";
        ASSERT_FALSE(object.lines.empty());
        EXPECT_EQ(object.lines.front(), expected);
        // None of these accounts exists.
        EXPECT_EQ(result, static_cast<DWORD>(ERROR_NONE_MAPPED)) << _stringx<>(row.lookedUp).narrow();
        EXPECT_TRUE(object.Logged(L"Failed to lookup account name, last error: 0x00000534"));
    }
}

TEST_F(AccountResolution, LooksUpTheCurrentUser)
{
    wchar_t name[257] = {};
    DWORD size = 257;
    ASSERT_TRUE(::GetUserNameW(name, &size));
    DWORD result = 1;
    std::wstring sid = Resolve(L"", name, &result);
    EXPECT_EQ(result, 0u);
    EXPECT_EQ(sid.compare(0, 4, L"S-1-"), 0) << _stringx<>(sid.c_str()).narrow();
    EXPECT_EQ(object.lines, std::vector<std::wstring>{kLookupLine + std::wstring(name) + L"'"});
}

TEST_F(AccountResolution, NoSidWithoutErrorCodeStillFails)
{
    // An empty name is never looked up; the system leaves no code behind.
    ::SetLastError(ERROR_SUCCESS);
    DWORD result = 0;
    Resolve(L"", L"", &result);
    EXPECT_EQ(result, static_cast<DWORD>(ERROR_NONE_MAPPED));
    EXPECT_EQ(object.lines, std::vector<std::wstring>{kLookupLine + std::wstring(L"'")});

    // A lookup that reports success with an invalid SID and no error code.
    object.lines.clear();
    object.m_pfnLookupAccountNameW = &LookupGivesInvalidSid;
    Resolve(L"", L"jdoe", &result);
    EXPECT_EQ(result, static_cast<DWORD>(ERROR_NONE_MAPPED));
    EXPECT_TRUE(object.Logged(L"Failed to lookup account name, SID is invalid, last error: 0x00000000"));
}

TEST_F(AccountResolution, LookupErrorSurvivesTheLog)
{
    object.clobberLastError = true;
    object.m_pfnLookupAccountNameW = &LookupFailsWithTrustError;
    DWORD result = 0;
    Resolve(L"CORP", L"jdoe", &result);
    EXPECT_EQ(result, static_cast<DWORD>(ERROR_TRUSTED_DOMAIN_FAILURE));
    EXPECT_TRUE(object.Logged(L"Failed to lookup account name, last error: 0x000006fc"));
}

TEST_F(AccountResolution, WithoutCreateWellKnownSidNamesAreBuiltByTheFallback)
{
    object.m_pfnCreateWellKnownSid = nullptr;
    for (const Resolved& row : kWithoutLookup) {
        if (std::wstring(row.user) == L"iusr") {
            continue;
        }
        DWORD result = 1;
        EXPECT_EQ(Resolve(row.domain, row.user, &result), row.sid);
        EXPECT_EQ(result, 0u);
    }
    EXPECT_TRUE(object.lines.empty());

    // IUSR has no fallback: the name goes to the lookup.
    DWORD result = 0;
    Resolve(L"", L"IUSR", &result);
    EXPECT_EQ(object.lines.front(), kLookupLine + std::wstring(L"IUSR'"));
}

TEST_F(AccountResolution, FailedWellKnownRoutesEndInTheLookup)
{
    object.m_pfnCreateWellKnownSid = nullptr;
    object.m_pfnAllocateAndInitializeSid = nullptr;
    ::SetLastError(ERROR_PROC_NOT_FOUND);
    DWORD result = 0;
    // The local computer knows the account by name.
    EXPECT_EQ(Resolve(L"", L"Administrators", &result), L"S-1-5-32-544");
    EXPECT_EQ(object.lines, (std::vector<std::wstring>{L"Failed to lookup wellknown account, last error: 0x7f",
                                                       kLookupLine + std::wstring(L"Administrators'")}));

    // A failed copy gives no message of its own.
    object.m_pfnAllocateAndInitializeSid = &::AllocateAndInitializeSid;
    object.m_pfnCopySid = nullptr;
    object.lines.clear();
    Resolve(L"", L"Guests", &result);
    ASSERT_FALSE(object.lines.empty());
    EXPECT_EQ(object.lines.front(), kLookupLine + std::wstring(L"Guests'"));
}

TEST_F(AccountResolution, InvalidStringSidIsReleasedAndLookedUp)
{
    // With IsValidSid missing every converted SID counts as invalid.
    object.m_pfnIsValidSid = nullptr;
    DWORD result = 0;
    Resolve(L"", L"S-1-5-32-544", &result);
    EXPECT_NE(result, 0u);
    EXPECT_EQ(object.lines.front(), kLookupLine + std::wstring(L"S-1-5-32-544'"));

    object.m_pfnIsValidSid = &::IsValidSid;
    object.m_pfnConvertStringSidToSidW = nullptr;
    object.lines.clear();
    Resolve(L"", L"S-1-5-18", &result);
    EXPECT_EQ(object.lines.front(), kLookupLine + std::wstring(L"S-1-5-18'"));
}
