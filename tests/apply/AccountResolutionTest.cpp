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
    // Names that never reach the account lookup: well-known names in any case (the
    // domain plays no part) and string SIDs with either prefix case.
    const struct {
        const wchar_t* domain;
        const wchar_t* user;
        const wchar_t* sid;
    } rows[] = {
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
    BYTE buffer[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(buffer);
    const bool systemKnowsIUser = ::CreateWellKnownSid(WinIUserSid, nullptr, buffer, &size) != FALSE;
    // Once with the system's well-known SIDs, once with the fallback alone.
    for (bool fallback : {false, true}) {
        SCOPED_TRACE(fallback ? "fallback" : "CreateWellKnownSid");
        object.m_pfnCreateWellKnownSid = fallback ? nullptr : &::CreateWellKnownSid;
        object.lines.clear();
        for (const auto& row : rows) {
            DWORD result = 1;
            EXPECT_EQ(Resolve(row.domain, row.user, &result), row.sid) << _stringx<>(row.user).narrow();
            EXPECT_EQ(result, 0u);
        }
        EXPECT_EQ(object.lines, std::vector<std::wstring>{});

        // IUSR has no fallback: without the system's SID it goes to the lookup.
        DWORD result = 1;
        std::wstring sid = Resolve(L"", L"iusr", &result);
        if (systemKnowsIUser && !fallback) {
            EXPECT_EQ(sid, L"S-1-5-17");
            EXPECT_TRUE(object.lines.empty());
        } else {
            ASSERT_FALSE(object.lines.empty());
            EXPECT_EQ(object.lines.front(), kLookupLine + std::wstring(L"iusr'"));
        }
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
        // None of these accounts exists.
        EXPECT_EQ(result, static_cast<DWORD>(ERROR_NONE_MAPPED)) << _stringx<>(row.lookedUp).narrow();
        EXPECT_EQ(object.lines, (std::vector<std::wstring>{kLookupLine + std::wstring(row.lookedUp) + L"'",
                                                           L"Failed to lookup account name, last error: 0x00000534"}));
    }
}

TEST_F(AccountResolution, LooksUpTheCurrentUser)
{
    wchar_t name[257] = {};
    DWORD size = 257;
    ASSERT_TRUE(::GetUserNameW(name, &size));
    DWORD result = 1;
    EXPECT_EQ(Resolve(L"", name, &result), CurrentUserSid());
    EXPECT_EQ(result, 0u);
    EXPECT_EQ(object.lines, std::vector<std::wstring>{kLookupLine + std::wstring(name) + L"'"});
}

TEST_F(AccountResolution, FailedLookupsReportTheirOwnCode)
{
    const struct {
        const char* name;
        decltype(&::LookupAccountNameW) lookup; // null: the system's
        bool clobberLastError;
        const wchar_t* user;
        DWORD result;
        const wchar_t* lastLine;
    } rows[] = {
        // An empty name is never looked up; the system leaves no code behind.
        {"empty name", nullptr, false, L"", ERROR_NONE_MAPPED, L"ResolveSidForAccountName: looking up account name ''"},
        {"invalid SID without a code", &LookupGivesInvalidSid, false, L"jdoe", ERROR_NONE_MAPPED,
         L"Failed to lookup account name, SID is invalid, last error: 0x00000000"},
        {"code survives the log", &LookupFailsWithTrustError, true, L"jdoe", ERROR_TRUSTED_DOMAIN_FAILURE,
         L"Failed to lookup account name, last error: 0x000006fc"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        object.lines.clear();
        object.m_pfnLookupAccountNameW = row.lookup ? row.lookup : &::LookupAccountNameW;
        object.clobberLastError = row.clobberLastError;
        ::SetLastError(ERROR_SUCCESS);
        DWORD result = 0;
        Resolve(L"", row.user, &result);
        EXPECT_EQ(result, row.result);
        ASSERT_FALSE(object.lines.empty());
        EXPECT_EQ(object.lines.back(), row.lastLine);
    }
}

TEST_F(AccountResolution, MissingEntryPointsEndInTheLookup)
{
    const struct {
        const char* name;
        void (*breakObject)(CQXSecureObject&);
        const wchar_t* user;
        std::vector<std::wstring> lines; // before the lookup's own
    } rows[] = {
        {"no well-known route", [](CQXSecureObject& o) { o.m_pfnCreateWellKnownSid = nullptr;
                                                         o.m_pfnAllocateAndInitializeSid = nullptr; },
         L"Administrators", {L"Failed to lookup wellknown account, last error: 0x7f"}},
        // A failed copy gives no message of its own.
        {"no CopySid", [](CQXSecureObject& o) { o.m_pfnCreateWellKnownSid = nullptr; o.m_pfnCopySid = nullptr; },
         L"Guests", {}},
        // With IsValidSid missing every converted SID counts as invalid and is released.
        {"no IsValidSid", [](CQXSecureObject& o) { o.m_pfnIsValidSid = nullptr; }, L"S-1-5-32-544", {}},
        {"no ConvertStringSidToSidW", [](CQXSecureObject& o) { o.m_pfnConvertStringSidToSidW = nullptr; },
         L"S-1-5-18", {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TestSecureObject broken;
        LocalMemoryTracker::Install(broken);
        row.breakObject(broken);
        ::SetLastError(ERROR_PROC_NOT_FOUND);
        PSID sid = nullptr;
        broken.ResolveItemSid(L"", row.user, &sid);
        ::LocalFree(sid);
        std::vector<std::wstring> expected = row.lines;
        expected.push_back(kLookupLine + std::wstring(row.user) + L"'");
        ASSERT_GE(broken.lines.size(), expected.size());
        broken.lines.resize(expected.size());
        EXPECT_EQ(broken.lines, expected);
    }
}
