// Each of the ten security entry points of the secure object missing in turn,
// through the install action on a real key: the result, the log lines, the
// memory handed around, and the key's DACL, which only a successful item changes.
// Where an entry point serves only a fallback, a second row takes the fallback by
// making the well-known SID unknown to the system, so that the missing entry
// point is reached.
#include <algorithm>

#include "InstallerFixture.h"
#include "ApplyTestSupport.h"
#include "entry/LockPermissionsManager.h"

using namespace qxtest;
using namespace applytest;

namespace {

constexpr BYTE kAllow = ACCESS_ALLOWED_ACE_TYPE;
constexpr BYTE kInherited = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
const std::vector<Ace> kBefore = {{kAllow, kInherited, KEY_ALL_ACCESS, L"S-1-5-32-544"},
                                  {kAllow, kInherited, KEY_READ, L"S-1-5-32-545"}};

// Placeholders in expected lines: "$" the key's name; "#" eight hexadecimal digits
// the first line that has them fixes; "%" the code an item fails with when no SID
// came out: the code of "#", or 1332 where that code is 0.
const wchar_t kGetting[] = L"Getting existing security descriptor for '$'";
const wchar_t kSetting[] = L"Setting new security descriptor for '$'";
const wchar_t kAborted[] = L"Error returned from ApplyPermissionsItems: 0x00000643";

std::wstring LookingUp(const std::wstring& name)
{
    return L"ResolveSidForAccountName: looking up account name '" + name + L"'";
}

std::wstring FailedItem(const std::wstring& code)
{
    return L"Failed to apply permissions for object '$', error 0x" + code;
}

BOOL WINAPI UnknownWellKnownSid(WELL_KNOWN_SID_TYPE, PSID, PSID, DWORD*)
{
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

using Injection = void (*)(CQXSecureObject&);

struct Row {
    const char* name;
    Injection missing;
    bool wellKnownUnknown; // CreateWellKnownSid fails as for a type the system lacks
    const wchar_t* user;
    const wchar_t* appliedSid; // null: the item fails and the key keeps its DACL
    std::vector<std::wstring> messages;
};

// Expands "$", "#" and "%" of the expected lines against the lines the action logged.
std::vector<std::wstring> Expand(std::vector<std::wstring> expected, const std::wstring& object,
                                 const std::vector<std::wstring>& actual)
{
    std::wstring code;
    for (std::size_t i = 0; i < expected.size() && i < actual.size() && code.empty(); ++i) {
        std::size_t at = expected[i].find(L'#');
        if (at != std::wstring::npos && actual[i].compare(0, at, expected[i], 0, at) == 0) {
            code = actual[i].substr(at, 8);
        }
    }
    const std::wstring derived = code.empty() || code == L"00000000" ? L"00000534" : code;
    for (std::wstring& line : expected) {
        for (std::size_t at; (at = line.find_first_of(L"$#%")) != std::wstring::npos;) {
            line.replace(at, 1, line[at] == L'$' ? object : line[at] == L'#' ? code : derived);
        }
    }
    return expected;
}

class UnresolvedEntryPointTest : public InstallerTest { };

TEST_F(UnresolvedEntryPointTest, EachMissingEntryPointGivesItsOutcome)
{
    const std::wstring kNotMapped = L"Failed to lookup account name, last error: 0x00000534";
    const Row rows[] = {
        // What the accounts below give with every entry point in place.
        {"nothing missing, well-known name", nullptr, false, L"Guests", L"S-1-5-32-546", {kGetting, kSetting}},
        {"nothing missing, looked-up name",
         nullptr,
         false,
         L"SYSTEM",
         L"S-1-5-18",
         {LookingUp(L"SYSTEM"), kGetting, kSetting}},
        {"nothing missing, string SID", nullptr, false, L"S-1-5-32-546", L"S-1-5-32-546", {kGetting, kSetting}},
        {"nothing missing, well-known SID unknown", nullptr, true, L"Guests", L"S-1-5-32-546", {kGetting, kSetting}},

        {"GetNamedSecurityInfoW",
         [](CQXSecureObject& o) { o.m_pfnGetNamedSecurityInfoW = nullptr; },
         false,
         L"Guests",
         nullptr,
         {kGetting, L"Failed to obtain existing security descriptor, last error: 0x0000007f", FailedItem(L"0000007f"),
          kAborted}},
        {"SetEntriesInAclW",
         [](CQXSecureObject& o) { o.m_pfnSetEntriesInAclW = nullptr; },
         false,
         L"Guests",
         nullptr,
         {kGetting, L"Failed to set explicit access for new ACL, last error: 0x0000007f", FailedItem(L"0000007f"),
          kAborted}},
        {"SetNamedSecurityInfoW",
         [](CQXSecureObject& o) { o.m_pfnSetNamedSecurityInfoW = nullptr; },
         false,
         L"Guests",
         nullptr,
         {kGetting, kSetting, L"Failed to set new security descriptor, last error: 0x0000007f", FailedItem(L"0000007f"),
          kAborted}},

        // The lookup fails without a code of its own: the item fails with whatever the
        // thread held, or with 1332.
        {"LookupAccountNameW",
         [](CQXSecureObject& o) { o.m_pfnLookupAccountNameW = nullptr; },
         false,
         L"SYSTEM",
         nullptr,
         {LookingUp(L"SYSTEM"), L"Failed to lookup account name, last error: 0x#", FailedItem(L"%"), kAborted}},
        {"LookupAccountNameW, well-known name",
         [](CQXSecureObject& o) { o.m_pfnLookupAccountNameW = nullptr; },
         false,
         L"Guests",
         L"S-1-5-32-546",
         {kGetting, kSetting}},

        // No SID counts as valid: a converted one is released, a looked-up one refused.
        {"IsValidSid, string SID",
         [](CQXSecureObject& o) { o.m_pfnIsValidSid = nullptr; },
         false,
         L"S-1-5-32-546",
         nullptr,
         {LookingUp(L"S-1-5-32-546"), kNotMapped, FailedItem(L"00000534"), kAborted}},
        {"IsValidSid, looked-up name",
         [](CQXSecureObject& o) { o.m_pfnIsValidSid = nullptr; },
         false,
         L"SYSTEM",
         nullptr,
         {LookingUp(L"SYSTEM"), L"Failed to lookup account name, SID is invalid, last error: 0x#", FailedItem(L"%"),
          kAborted}},
        {"IsValidSid, well-known name",
         [](CQXSecureObject& o) { o.m_pfnIsValidSid = nullptr; },
         false,
         L"Guests",
         L"S-1-5-32-546",
         {kGetting, kSetting}},

        // A string SID that cannot be converted is looked up as a name, which no account has.
        {"ConvertStringSidToSidW",
         [](CQXSecureObject& o) { o.m_pfnConvertStringSidToSidW = nullptr; },
         false,
         L"S-1-5-32-546",
         nullptr,
         {LookingUp(L"S-1-5-32-546"), kNotMapped, FailedItem(L"00000534"), kAborted}},

        // The well-known table's fallback builds the same SID.
        {"CreateWellKnownSid",
         [](CQXSecureObject& o) { o.m_pfnCreateWellKnownSid = nullptr; },
         false,
         L"Guests",
         L"S-1-5-32-546",
         {kGetting, kSetting}},

        {"AllocateAndInitializeSid, not reached",
         [](CQXSecureObject& o) { o.m_pfnAllocateAndInitializeSid = nullptr; },
         false,
         L"Guests",
         L"S-1-5-32-546",
         {kGetting, kSetting}},
        // No fallback either: the name goes to the lookup, which knows it.
        {"AllocateAndInitializeSid",
         [](CQXSecureObject& o) { o.m_pfnAllocateAndInitializeSid = nullptr; },
         true,
         L"Guests",
         L"S-1-5-32-546",
         {L"Failed to lookup wellknown account, last error: 0x57", LookingUp(L"Guests"), kGetting, kSetting}},

        {"CopySid, not reached",
         [](CQXSecureObject& o) { o.m_pfnCopySid = nullptr; },
         false,
         L"Guests",
         L"S-1-5-32-546",
         {kGetting, kSetting}},
        // A failed copy has no message of its own; the lookup follows.
        {"CopySid",
         [](CQXSecureObject& o) { o.m_pfnCopySid = nullptr; },
         true,
         L"Guests",
         L"S-1-5-32-546",
         {LookingUp(L"Guests"), kGetting, kSetting}},

        {"FreeSid, not reached",
         [](CQXSecureObject& o) { o.m_pfnFreeSid = nullptr; },
         false,
         L"Guests",
         L"S-1-5-32-546",
         {kGetting, kSetting}},
        // The copy is made before the temporary SID would be freed; only that SID stays.
        {"FreeSid",
         [](CQXSecureObject& o) { o.m_pfnFreeSid = nullptr; },
         true,
         L"Guests",
         L"S-1-5-32-546",
         {kGetting, kSetting}},
    };

    ASSERT_NO_FATAL_FAILURE(StartSession(PackageBuilder()));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TestObject key(TestObject::Kind::Key, L"Unresolved");
        ASSERT_TRUE(key.SetDacl(kBefore));
        ASSERT_EQ(SetProperty(L"CustomActionData", key.Name() + L"|Registry||" + row.user + L"|131097|8"), 0u);
        m_log.Clear();
        UINT result;
        {
            LocalMemoryTracker tracker;
            CQxLockPermissionsManager manager(Session());
            LocalMemoryTracker::Install(manager);
            if (row.wellKnownUnknown) {
                manager.m_pfnCreateWellKnownSid = &UnknownWellKnownSid;
            }
            if (row.missing) {
                row.missing(manager);
            }

            result = manager.RunInstall();

            EXPECT_EQ(LocalMemoryTracker::Live(), 0u) << "a SID, descriptor or ACL was not released";
            EXPECT_EQ(LocalMemoryTracker::UnknownFrees(), 0) << "memory released that was not handed out";
        }
        EXPECT_EQ(result, row.appliedSid ? 0u : 1603u);
        const std::vector<std::wstring> messages = m_log.LibraryMessages();
        EXPECT_EQ(messages, Expand(row.messages, key.Name(), messages));
        std::vector<Ace> expected = kBefore;
        if (row.appliedSid) {
            expected.push_back({kAllow, kInherited, KEY_READ, row.appliedSid});
        }
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(key.ReadDacl(), expected);
    }
}

} // namespace
