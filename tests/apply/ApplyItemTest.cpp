// The helper route of ApplyItem with a fake helper; the in-process route is
// tested end to end by the installer tests.
#include <gtest/gtest.h>

#include "apply/ApplyTestSupport.h"

using namespace applytest;

TEST(ApplyItem, HelperRouteTakesTheHelpersAnswer)
{
    const std::wstring key = L"MACHINE\\SOFTWARE\\Qelmora\\Locked";
    const std::wstring processing = L"Processing registry object '" + key + L"' in 64-bit outproc";
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
        {"call fails", true, E_FAIL, true, 0, static_cast<DWORD>(E_FAIL),
         {processing, L"Failed call to 64-bit set object permissions, error 80004005"}},
        {"success without an interface", false, S_OK, true, 0, static_cast<DWORD>(E_POINTER),
         {L"Failed to obtain 64-bit helper process for permission item '" + key + L"', error '80004003'"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TestSecureObject object;
        FakeHelper helper;
        object.helperFactory = [&](IQXBEWUtils** out) {
            if (row.handOut) {
                helper.AddRef();
                *out = &helper;
            }
            return S_OK;
        };
        helper.callResult = row.callResult;
        helper.writesResult = row.writesResult;
        helper.resultValue = row.resultValue;

        EXPECT_EQ(object.ApplyItem(MakeItem(key, LockObjectKind::Registry, L"CORP", L"jdoe", 0x80000000, 0x16)),
                  row.expected);
        EXPECT_EQ(object.lines, row.lines);
        EXPECT_EQ(helper.references, 1) << "the helper was not released exactly once";
        if (row.handOut) {
            EXPECT_EQ(helper.calls, 1);
            EXPECT_EQ(helper.objectName, key);
            EXPECT_EQ(helper.domain, L"CORP");
            EXPECT_EQ(helper.user, L"jdoe");
            EXPECT_EQ(helper.objectType, static_cast<ULONG>(SE_REGISTRY_KEY));
            EXPECT_EQ(helper.permission, 0x80000000u);
            EXPECT_EQ(helper.flags, 0x16u);
        }
    }
}
