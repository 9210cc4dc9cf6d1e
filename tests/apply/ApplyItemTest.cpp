#include <gtest/gtest.h>

#include "apply/ApplyTestSupport.h"

using namespace applytest;

namespace {

class ApplyItem : public ::testing::Test {
protected:
    void SetUp() override
    {
        LocalMemoryTracker::Install(object);
        object.helperFactory = [this](IQXBEWUtils** out) {
            if (SUCCEEDED(factoryResult) && handOutHelper) {
                helper.AddRef();
                *out = &helper;
            }
            return factoryResult;
        };
    }

    void TearDown() override
    {
        EXPECT_EQ(helper.references, 1) << "the helper was not released exactly once";
        EXPECT_EQ(LocalMemoryTracker::Live(), 0u);
        EXPECT_EQ(LocalMemoryTracker::UnknownFrees(), 0);
    }

    LocalMemoryTracker tracker;
    TestSecureObject object;
    FakeHelper helper;
    HRESULT factoryResult = S_OK;
    bool handOutHelper = true;
};

const wchar_t kKey[] = L"MACHINE\\SOFTWARE\\Qelmora\\Locked";

} // namespace

TEST_F(ApplyItem, HelperRouteTakesTheHelpersAnswer)
{
    const struct {
        const char* name;
        HRESULT factoryResult;
        bool handOut;
        HRESULT callResult;
        bool writesResult;
        ULONG resultValue;
        DWORD expected;
        const wchar_t* lastLine;
    } rows[] = {
        {"applied", S_OK, true, S_OK, true, 0, 0, nullptr},
        {"helper reports a failure", S_OK, true, S_OK, true, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, nullptr},
        {"helper says nothing", S_OK, true, S_OK, false, 0, ERROR_INVALID_DATA, nullptr},
        {"call fails", S_OK, true, E_FAIL, true, 0, static_cast<DWORD>(E_FAIL),
         L"Failed call to 64-bit set object permissions, error 80004005"},
        {"no helper process", HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), false, S_OK, true, 0, 0x80070002,
         L"Failed to obtain 64-bit helper process for permission item 'MACHINE\\SOFTWARE\\Qelmora\\Locked', "
         L"error '80070002'"},
        {"success without an interface", S_OK, false, S_OK, true, 0, static_cast<DWORD>(E_POINTER),
         L"Failed to obtain 64-bit helper process for permission item 'MACHINE\\SOFTWARE\\Qelmora\\Locked', "
         L"error '80004003'"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        object.lines.clear();
        factoryResult = row.factoryResult;
        handOutHelper = row.handOut;
        helper.callResult = row.callResult;
        helper.writesResult = row.writesResult;
        helper.resultValue = row.resultValue;
        EXPECT_EQ(object.ApplyItem(MakeItem(kKey, LockObjectKind::Registry, L"CORP", L"jdoe", KEY_READ, 0x17)),
                  row.expected);
        if (row.lastLine) {
            EXPECT_EQ(object.lines.back(), row.lastLine);
        }
        if (row.handOut) {
            EXPECT_EQ(object.lines.front(), L"Processing registry object '" + std::wstring(kKey) +
                                                L"' in 64-bit outproc");
        }
    }
    // Nothing was looked up or applied in this process.
    EXPECT_FALSE(object.LoggedPrefix(L"ResolveSidForAccountName"));
    EXPECT_FALSE(object.LoggedPrefix(L"Getting existing"));
}

TEST_F(ApplyItem, HelperReceivesTheItem)
{
    EXPECT_EQ(object.ApplyItem(MakeItem(kKey, LockObjectKind::Registry, L"CORP", L"jdoe", 0x80000000, 0x16)), 0u);
    EXPECT_EQ(helper.calls, 1);
    EXPECT_EQ(helper.objectName, kKey);
    EXPECT_EQ(helper.domain, L"CORP");
    EXPECT_EQ(helper.user, L"jdoe");
    EXPECT_EQ(helper.objectType, static_cast<ULONG>(SE_REGISTRY_KEY));
    EXPECT_EQ(helper.permission, 0x80000000u);
    EXPECT_EQ(helper.flags, 0x16u);
}

TEST_F(ApplyItem, InProcessRoute)
{
    TestKey key(L"ApplyItem");
    const struct {
        LockObjectKind kind;
        DWORD flags;
        const wchar_t* user;
        DWORD expected;
    } rows[] = {
        {LockObjectKind::Registry, 0x08, L"Everyone", 0},
        {LockObjectKind::Registry, 0x09, L"Guests", 0},
        {LockObjectKind::Registry, 0x00, L"nobody-qx", ERROR_NONE_MAPPED},
        // Only registry items go to the helper.
        {LockObjectKind::File, 0x16, L"Everyone", ERROR_FILE_NOT_FOUND},
    };
    for (const auto& row : rows) {
        std::wstring name = row.kind == LockObjectKind::Registry ? key.ObjectName() : L"C:\\qx-no-such-file.txt";
        EXPECT_EQ(object.ApplyItem(MakeItem(name, row.kind, L"", row.user, KEY_READ, row.flags)), row.expected)
            << _stringx<>(row.user).narrow();
    }
    EXPECT_EQ(object.helperRequests, 0);
    const std::vector<Ace> dacl = key.ReadDacl();
    auto has = [&](BYTE type, const wchar_t* sid) {
        return std::any_of(dacl.begin(), dacl.end(), [&](const Ace& ace) {
            return ace.type == type && ace.sid == sid && ace.mask == static_cast<DWORD>(KEY_READ);
        });
    };
    EXPECT_TRUE(has(ACCESS_ALLOWED_ACE_TYPE, L"S-1-1-0"));
    EXPECT_TRUE(has(ACCESS_DENIED_ACE_TYPE, L"S-1-5-32-546"));
}
