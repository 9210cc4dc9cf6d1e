// Account resolution, access entries and the helper route of one item. How the
// entries merge into real objects' DACLs is tested end to end by the installer tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <functional>

#include "apply/AccessEntries.h"
#include "apply/AccountResolution.h"
#include "apply/ApplyRules.h"
#include "ApplyTestSupport.h"
#include "RecordingLog.h"
#include "helper64/HelperRoute.h"
#include "helper64/QXBEWUtils.h"

using namespace applytest;

namespace {

const wchar_t kLookupLine[] = L"ResolveSidForAccountName: looking up account name '";

// Security entry points with a log that records its lines.
class TestSecurity : public CSecurityFunctions, public qxtest::RecordingLog {
public:
    void Log(const _stringx<>& message) override
    {
        RecordingLog::Log(message);
        if (clobberLastError) {
            ::SetLastError(ERROR_INVALID_FUNCTION); // as an installer call may
        }
    }

    bool clobberLastError = false;
};

// The helper's SetObjectPermissions as a test sets it up; the rest fails with E_NOTIMPL.
class FakeHelper : public IQXBEWUtils {
public:
    HRESULT callResult = S_OK;
    bool writesResult = true;
    ULONG resultValue = 0;
    std::vector<std::wstring> calls; // name|domain|user|type|permission|flags
    LONG references = 1;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override
    {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--references); }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Method1(LONGLONG, BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Method2(BSTR, LONGLONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Method3() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Property4(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Property5(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Property6(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Property7(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Method8(BSTR, BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Method9(BSTR, BSTR, BSTR, BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Method10(BSTR, BSTR, LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Method11(BSTR, BSTR, LONG, VARIANT_BOOL, VARIANT_BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Method12(BSTR, BSTR, LONG, VARIANT_BOOL, VARIANT_BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Method13(BSTR, BSTR, BSTR*, LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetObjectPermissions(BSTR name, BSTR domain, BSTR user, ULONG type, ULONG permission,
                                                   ULONG flags, ULONG* result) override
    {
        calls.push_back(std::wstring(name) + L"|" + domain + L"|" + user + L"|" + std::to_wstring(type) + L"|" +
                        std::to_wstring(permission) + L"|" + std::to_wstring(flags));
        if (writesResult) {
            *result = resultValue;
        }
        return callResult;
    }
};

// Every test's SIDs, descriptors and ACLs must be released, and only those.
class Apply : public ::testing::Test {
protected:
    void SetUp() override { LocalMemoryTracker::Install(object); }
    void TearDown() override
    {
        EXPECT_EQ(LocalMemoryTracker::Live(), 0u) << "a SID or buffer was not released";
        EXPECT_EQ(LocalMemoryTracker::UnknownFrees(), 0) << "released memory that was never handed out";
    }

    // Resolves and releases the SID; returns its text.
    std::wstring Resolve(TestSecurity& resolver, const wchar_t* domain, const wchar_t* user, DWORD* result)
    {
        PSID sid = nullptr;
        *result = ResolveItemSid(resolver, resolver, domain, user, &sid);
        EXPECT_EQ(*result == ERROR_SUCCESS, sid != nullptr);
        std::wstring text = SidText(sid);
        ::LocalFree(sid);
        return text;
    }

    LocalMemoryTracker tracker;
    TestSecurity object;
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

TEST_F(Apply, WellKnownNamesAndStringSidsNeedNoLookup)
{
    const struct {
        const wchar_t* domain; // plays no part for these
        const wchar_t* user;
        const wchar_t* sid;
    } rows[] = {
        {L"", L"everyone", L"S-1-1-0"},
        {L"", L"AUTHENTICATED USERS", L"S-1-5-11"},
        {L"BUILTIN", L"Users", L"S-1-5-32-545"},
        {L"BUILTIN", L"administrators", L"S-1-5-32-544"},
        {L"", L"Local System", L"S-1-5-18"},
        {L"", L"local service", L"S-1-5-19"},
        {L"", L"Network Service", L"S-1-5-20"},
        {L"", L"guests", L"S-1-5-32-546"},
        {L"", L"Creator Owner", L"S-1-3-0"},
        {L"", L"interactive", L"S-1-5-4"},
        {L"", L"POWER USERS", L"S-1-5-32-547"},
        {L"", L"Remote Desktop Users", L"S-1-5-32-555"},
        {L"", L"iusr", L"S-1-5-17"},
        {L"", L"S-1-5-32-544", L"S-1-5-32-544"},
        {L"CORP", L"s-1-5-18", L"S-1-5-18"},
    };
    BYTE buffer[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(buffer);
    const bool systemKnowsIUser = ::CreateWellKnownSid(WinIUserSid, nullptr, buffer, &size) != FALSE;
    // Once with the system's well-known SIDs, once with the fallback alone.
    for (bool fallback : {false, true}) {
        object.m_pfnCreateWellKnownSid = fallback ? nullptr : &::CreateWellKnownSid;
        for (const auto& row : rows) {
            object.lines.clear();
            DWORD result = 1;
            std::wstring sid = Resolve(object, row.domain, row.user, &result);
            if (std::wcscmp(row.user, L"iusr") == 0 && (fallback || !systemKnowsIUser)) {
                // IUSR has no fallback: without the system's SID it goes to the lookup.
                ASSERT_FALSE(object.lines.empty());
                EXPECT_EQ(object.lines.front(), kLookupLine + std::wstring(L"iusr'"));
                continue;
            }
            EXPECT_EQ(sid, row.sid) << _stringx<>(row.user).narrow() << (fallback ? " (fallback)" : "");
            EXPECT_EQ(result, 0u);
            EXPECT_TRUE(object.lines.empty());
        }
    }
}

TEST_F(Apply, LookupNameJoinsDomainAndAccountWithOneBackslash)
{
    const struct {
        const wchar_t* domain;
        const wchar_t* user;
        const wchar_t* lookedUp;
    } rows[] = {
        {L"CORP", L"jdoe", L"CORP\\jdoe"},
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
        Resolve(object, row.domain, row.user, &result);
        EXPECT_EQ(result, static_cast<DWORD>(ERROR_NONE_MAPPED)) << _stringx<>(row.lookedUp).narrow();
        EXPECT_EQ(object.lines, (std::vector<std::wstring>{kLookupLine + std::wstring(row.lookedUp) + L"'",
                                                           L"Failed to lookup account name, last error: 0x00000534"}));
    }

    wchar_t name[257] = {};
    DWORD size = 257;
    ASSERT_TRUE(::GetUserNameW(name, &size));
    DWORD result = 1;
    EXPECT_EQ(Resolve(object, L"", name, &result), CurrentUserSid());
    EXPECT_EQ(result, 0u);
}

TEST_F(Apply, FailedLookupsReportTheirOwnCodeOrNoneMapped)
{
    const struct {
        const char* name;
        decltype(&::LookupAccountNameW) lookup;
        bool clobberLastError;
        const wchar_t* user;
        DWORD result;
        const wchar_t* lastLine;
    } rows[] = {
        // An empty name is never looked up, and the system leaves no code behind.
        {"empty name", &::LookupAccountNameW, false, L"", ERROR_NONE_MAPPED,
         L"ResolveSidForAccountName: looking up account name ''"},
        {"invalid SID without a code", &LookupGivesInvalidSid, false, L"jdoe", ERROR_NONE_MAPPED,
         L"Failed to lookup account name, SID is invalid, last error: 0x00000000"},
        {"code survives the log", &LookupFailsWithTrustError, true, L"jdoe", ERROR_TRUSTED_DOMAIN_FAILURE,
         L"Failed to lookup account name, last error: 0x000006fc"},
    };
    for (const auto& row : rows) {
        object.lines.clear();
        object.m_pfnLookupAccountNameW = row.lookup;
        object.clobberLastError = row.clobberLastError;
        ::SetLastError(ERROR_SUCCESS);
        DWORD result = 0;
        Resolve(object, L"", row.user, &result);
        EXPECT_EQ(result, row.result) << row.name;
        ASSERT_FALSE(object.lines.empty());
        EXPECT_EQ(object.lines.back(), row.lastLine) << row.name;
    }
}

TEST_F(Apply, MissingResolutionEntryPointsEndInTheLookup)
{
    const struct {
        const char* name;
        void (*breakObject)(CSecurityFunctions&);
        const wchar_t* user;
        std::vector<std::wstring> lines; // before the lookup's own
    } rows[] = {
        {"no well-known route",
         [](CSecurityFunctions& o) {
             o.m_pfnCreateWellKnownSid = nullptr;
             o.m_pfnAllocateAndInitializeSid = nullptr;
         },
         L"Administrators",
         {L"Failed to lookup wellknown account, last error: 0x7f"}},
        // A failed copy gives no message of its own.
        {"no CopySid",
         [](CSecurityFunctions& o) {
             o.m_pfnCreateWellKnownSid = nullptr;
             o.m_pfnCopySid = nullptr;
         },
         L"Guests",
         {}},
        // With IsValidSid missing every converted SID counts as invalid and is released.
        {"no IsValidSid", [](CSecurityFunctions& o) { o.m_pfnIsValidSid = nullptr; }, L"S-1-5-32-544", {}},
        {"no ConvertStringSidToSidW",
         [](CSecurityFunctions& o) { o.m_pfnConvertStringSidToSidW = nullptr; },
         L"S-1-5-18",
         {}},
    };
    for (const auto& row : rows) {
        TestSecurity broken;
        LocalMemoryTracker::Install(broken);
        row.breakObject(broken);
        ::SetLastError(ERROR_PROC_NOT_FOUND);
        DWORD result = 0;
        Resolve(broken, L"", row.user, &result);
        std::vector<std::wstring> expected = row.lines;
        expected.push_back(kLookupLine + std::wstring(row.user) + L"'");
        ASSERT_GE(broken.lines.size(), expected.size()) << row.name;
        broken.lines.resize(expected.size());
        EXPECT_EQ(broken.lines, expected) << row.name;
    }
}

TEST_F(Apply, EntryFollowsKindAndFlags)
{
    const struct {
        LockObjectKind kind;
        DWORD flags;
        const wchar_t* user;
        DWORD result;
        ACCESS_MODE mode;
        DWORD inheritance;
    } rows[] = {
        {LockObjectKind::CreateFolder, 0x00, L"Everyone", 0, SET_ACCESS, 3},
        {LockObjectKind::File, 0x00, L"Everyone", 0, SET_ACCESS, 0},
        {LockObjectKind::Registry, 0x08, L"Everyone", 0, SET_ACCESS, 3},
        {LockObjectKind::Unknown, 0x00, L"Everyone", 0, SET_ACCESS, 0},
        {LockObjectKind::Registry, 0x02, L"Everyone", 0, SET_ACCESS, 4},
        {LockObjectKind::File, 0x01, L"Everyone", 0, DENY_ACCESS, 0},
        {LockObjectKind::CreateFolder, 0x17, L"Everyone", 0, DENY_ACCESS, 4},
        // Filled before the account is resolved, so filled when it is not.
        {LockObjectKind::File, 0x03, L"nobody-qx", ERROR_NONE_MAPPED, DENY_ACCESS, 4},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "kind " << int(row.kind) << ", flags " << row.flags);
        EXPLICIT_ACCESS_W entry;
        std::memset(&entry, 0xCC, sizeof(entry));
        EXPECT_EQ(BuildExplicitAccess(object, object,
                                      MakeItem(L"C:\\x", row.kind, L"", row.user, 0x80000000, row.flags), entry),
                  row.result);
        EXPECT_EQ(entry.grfAccessPermissions, 0x80000000u);
        EXPECT_EQ(entry.grfAccessMode, row.mode);
        EXPECT_EQ(entry.grfInheritance, row.inheritance);
        EXPECT_EQ(entry.Trustee.pMultipleTrustee, nullptr);
        EXPECT_EQ(entry.Trustee.MultipleTrusteeOperation, NO_MULTIPLE_TRUSTEE);
        EXPECT_EQ(entry.Trustee.TrusteeForm, TRUSTEE_IS_SID);
        EXPECT_EQ(entry.Trustee.TrusteeType, TRUSTEE_IS_UNKNOWN);
        EXPECT_EQ(SidText(entry.Trustee.ptstrName), row.result ? L"" : L"S-1-1-0");
        ::LocalFree(entry.Trustee.ptstrName);
    }
}

TEST(ApplyRules, HelperRedirectionAndFullNamesFollowKindFlagsAndName)
{
    const wchar_t* system = L"C:\\Windows\\System32";
    const struct {
        const wchar_t* name;
        LockObjectKind kind;
        DWORD flags;
        bool helper;
        bool noRedirection;
        bool relative;
    } rows[] = {
        {L"MACHINE\\SOFTWARE\\App", LockObjectKind::Registry, 0x04, true, false, false},
        {L"MACHINE\\SOFTWARE\\App", LockObjectKind::Registry, 0x10, true, false, false},
        {L"MACHINE\\SOFTWARE\\App", LockObjectKind::Registry, 0x09, false, false, false},
        {L"C:\\Program Files\\App\\a.dll", LockObjectKind::File, 0x08, false, true, false},
        {L"C:\\Program Files\\App\\", LockObjectKind::CreateFolder, 0x16, false, false, false},
        {L"c:\\windows\\system32\\drivers\\a.sys", LockObjectKind::File, 0x16, false, true, false},
        {L"D:\\C:\\Windows\\System32\\a.dll", LockObjectKind::File, 0x16, false, false, false},
        {L"C:\\Windows\\System32\\a.dll", LockObjectKind::Unknown, 0x08, false, false, false},
        {L"\\\\server\\share\\a.dll", LockObjectKind::File, 0x08, false, true, false},
        // Names the system would resolve against the current folder.
        {L"a.dll", LockObjectKind::File, 0x08, false, true, true},
        {L"\\Windows\\a.dll", LockObjectKind::File, 0x16, false, false, true},
        {L"C:a.dll", LockObjectKind::File, 0x16, false, false, true},
        {L"1:\\a.dll", LockObjectKind::File, 0x16, false, false, true},
        {L"", LockObjectKind::CreateFolder, 0x16, false, false, true},
        {L"App\\", LockObjectKind::CreateFolder, 0x08, false, true, true},
    };
    for (const auto& row : rows) {
        PermissionsItem item = MakeItem(row.name, row.kind, L"", L"Users", 1, row.flags);
        EXPECT_EQ(AppliesThroughHelper(item), row.helper) << _stringx<>(row.name).narrow() << " " << row.flags;
        EXPECT_EQ(AppliesWithoutRedirection(item, system), row.noRedirection) << _stringx<>(row.name).narrow();
        EXPECT_EQ(HasRelativeFileName(item), row.relative) << _stringx<>(row.name).narrow();
    }
}

TEST_F(Apply, HelperRouteTakesTheHelpersAnswer)
{
    const std::wstring key = L"MACHINE\\SOFTWARE\\Qelmora\\Locked";
    const std::wstring processing = L"Processing registry object '" + key + L"' in 64-bit outproc";
    const std::wstring call = key + L"|CORP|jdoe|" + std::to_wstring(SE_REGISTRY_KEY) + L"|2147483648|22";
    const struct {
        const char* name;
        bool handOut; // whether the successful factory hands out an interface
        HRESULT callResult;
        bool writesResult;
        ULONG resultValue;
        DWORD expected;
        std::vector<std::wstring> lines;
    } rows[] = {
        {"applied", true, S_OK, true, 0, 0, {processing}},
        {"helper reports a failure", true, S_OK, true, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, {processing}},
        {"helper says nothing", true, S_OK, false, 0, ERROR_INVALID_DATA, {processing}},
        {"call fails",
         true,
         E_FAIL,
         true,
         0,
         static_cast<DWORD>(E_FAIL),
         {processing, L"Failed call to 64-bit set object permissions, error 80004005"}},
        {"success without an interface",
         false,
         S_OK,
         true,
         0,
         static_cast<DWORD>(E_POINTER),
         {L"Failed to obtain 64-bit helper process for permission item '" + key + L"', error '80004003'"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        object.lines.clear();
        FakeHelper helper;
        auto factory = [&](IQXBEWUtils** out) {
            if (row.handOut) {
                helper.AddRef();
                *out = &helper;
            }
            return S_OK;
        };
        helper.callResult = row.callResult;
        helper.writesResult = row.writesResult;
        helper.resultValue = row.resultValue;

        EXPECT_EQ(ApplyItemThroughHelper(object, factory,
                                         MakeItem(key, LockObjectKind::Registry, L"CORP", L"jdoe", 0x80000000, 0x16)),
                  row.expected);
        EXPECT_EQ(object.lines, row.lines);
        EXPECT_EQ(helper.references, 1) << "the helper was not released exactly once";
        EXPECT_EQ(helper.calls, row.handOut ? std::vector<std::wstring>{call} : std::vector<std::wstring>{});
    }
}

namespace {

// What reached SetNamedSecurityInfoW: Wine keeps no DACL of a file or folder to
// read back, so the merged list is checked on its way to the system.
std::vector<Ace> g_written;
SECURITY_INFORMATION g_writtenInformation = 0;

DWORD WINAPI RecordingSetNamedSecurityInfoW(LPWSTR name, SE_OBJECT_TYPE type, SECURITY_INFORMATION information,
                                            PSID owner, PSID group, PACL dacl, PACL sacl)
{
    g_written = ReadAces(dacl);
    g_writtenInformation = information;
    return ::SetNamedSecurityInfoW(name, type, information, owner, group, dacl, sacl);
}

} // namespace

TEST_F(Apply, FilesAndFoldersGetTheMergedListWritten)
{
    const struct {
        TestObject::Kind object;
        LockObjectKind kind;
        DWORD flags;
        BYTE aceType;
        BYTE aceFlags;
    } rows[] = {
        {TestObject::Kind::File, LockObjectKind::File, 0x08, ACCESS_ALLOWED_ACE_TYPE, 0},
        {TestObject::Kind::File, LockObjectKind::File, 0x09, ACCESS_DENIED_ACE_TYPE, 0},
        {TestObject::Kind::Folder, LockObjectKind::CreateFolder, 0x08, ACCESS_ALLOWED_ACE_TYPE,
         OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE},
        {TestObject::Kind::Folder, LockObjectKind::CreateFolder, 0x0A, ACCESS_ALLOWED_ACE_TYPE,
         NO_PROPAGATE_INHERIT_ACE},
    };
    object.m_pfnSetNamedSecurityInfoW = &RecordingSetNamedSecurityInfoW;
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "kind " << int(row.kind) << ", flags " << row.flags);
        TestObject target(row.object, L"Merged");
        // Whatever the system reports before stays: only the Users entry is new.
        const std::vector<Ace> before = target.ReadDacl();
        g_written.clear();

        EXPECT_EQ(ApplyItemInProcess(object, object,
                                     MakeItem(target.Name(), row.kind, L"", L"Users", FILE_GENERIC_READ, row.flags)),
                  0u);

        EXPECT_EQ(g_writtenInformation, static_cast<SECURITY_INFORMATION>(DACL_SECURITY_INFORMATION));
        const Ace added{row.aceType, row.aceFlags, FILE_GENERIC_READ, L"S-1-5-32-545"};
        EXPECT_NE(std::find(g_written.begin(), g_written.end(), added), g_written.end());
        for (const Ace& kept : before) {
            EXPECT_NE(std::find(g_written.begin(), g_written.end(), kept), g_written.end()) << kept;
        }
        EXPECT_EQ(g_written.size(), before.size() + 1);
    }
}
