// The helper's proxy over an in-process dispatch object that records each call and
// answers as each case asks, and the route of a registry item through it.
#include <gtest/gtest.h>

#include <functional>
#include <utility>

#include "RecordingLog.h"
#include "SecurityTestSupport.h"
#include "helper64/BitUtilsHelper.h"
#include "helper64/HelperRoute.h"
#include "support/com_ptr.h"
#include "support/variant.h"

namespace {

// Each positional argument in declaration order: its type and its value as text.
using Arguments = std::vector<std::pair<VARTYPE, std::wstring>>;

class FakeDispatch : public IDispatch {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOTIMPL; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; } // lives in the fixture
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* exception, UINT*) override
    {
        seenId = id;
        seen.clear();
        for (UINT i = params->cArgs; i > 0; --i) { // Invoke gets them last first
            qx::variant text;
            EXPECT_EQ(S_OK, ::VariantChangeType(&text, &params->rgvarg[i - 1], 0, VT_BSTR));
            seen.emplace_back(params->rgvarg[i - 1].vt, text.bstrVal ? text.bstrVal : L"");
        }
        qx::variant copy; // keeps a null string null, unlike VariantCopy
        copy.copy_from(answerValue);
        std::swap(*result, static_cast<VARIANT&>(copy));
        if (exception) {
            *exception = raised;
        }
        return answer;
    }

    DISPID seenId = 0;
    Arguments seen;
    HRESULT answer = S_OK;
    qx::variant answerValue;
    EXCEPINFO raised = {};
};

// A proxy wired to the fake, as Initialize would leave it.
class ProxyOnFake : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK, CBitUtilsHelper::CreateInstance(&proxy));
        proxy->AddRef();
        proxy->Attach(&fake);
    }
    void TearDown() override { EXPECT_EQ(0u, proxy->Release()); }

    FakeDispatch fake;
    CBitUtilsHelper* proxy = nullptr;
};

BSTR B(const wchar_t* text)
{
    return const_cast<BSTR>(text); // only read: the proxy copies it into a VARIANT
}

TEST_F(ProxyOnFake, OperationsSendTheirArgumentsInDeclarationOrder)
{
    ULONG result = 0;
    const struct {
        std::function<HRESULT(CBitUtilsHelper&)> call;
        DISPID id;
        Arguments arguments;
    } cases[] = {
        {[](CBitUtilsHelper& p) { return p.Method3(); }, 3, {}},
        {[](CBitUtilsHelper& p) { return p.Method1(-5, B(L"one")); }, 1, {{VT_I8, L"-5"}, {VT_BSTR, L"one"}}},
        {[](CBitUtilsHelper& p) { return p.Method9(B(L"a"), B(L"b"), B(L"c"), B(L"d")); },
         9,
         {{VT_BSTR, L"a"}, {VT_BSTR, L"b"}, {VT_BSTR, L"c"}, {VT_BSTR, L"d"}}},
        {[&](CBitUtilsHelper& p) {
             return p.SetObjectPermissions(B(L"key"), B(L""), B(L"Guests"), SE_REGISTRY_KEY, KEY_READ, 0x16, &result);
         },
         14,
         {{VT_BSTR, L"key"},
          {VT_BSTR, L""},
          {VT_BSTR, L"Guests"},
          {VT_UI4, L"4"},
          {VT_UI4, L"131097"},
          {VT_UI4, L"22"}}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(S_OK, c.call(*proxy));
        EXPECT_EQ(c.id, fake.seenId);
        EXPECT_EQ(c.arguments, fake.seen);
    }
}

TEST_F(ProxyOnFake, RaisedExceptionsBecomeHresults)
{
    const struct {
        HRESULT answer;
        WORD wCode;
        SCODE scode;
        HRESULT expected;
    } cases[] = {
        {DISP_E_EXCEPTION, 5, E_ACCESSDENIED, static_cast<HRESULT>(0x80040005)}, // the error code wins
        {DISP_E_EXCEPTION, 0, E_ACCESSDENIED, E_ACCESSDENIED},
        {DISP_E_EXCEPTION, 0, 0, DISP_E_EXCEPTION},
        {DISP_E_TYPEMISMATCH, 5, 0, DISP_E_TYPEMISMATCH},
    };
    for (const auto& c : cases) {
        fake.answer = c.answer;
        fake.raised.wCode = c.wCode;
        fake.raised.scode = c.scode;
        EXPECT_EQ(c.expected, proxy->Method3()) << c.wCode << " " << c.scode;
    }
}

TEST_F(ProxyOnFake, ResultsAreTakenOnlyInTheirOwnType)
{
    BSTR text = nullptr;
    fake.answerValue.set(L"value");
    EXPECT_EQ(S_OK, proxy->get_Property4(&text));
    EXPECT_STREQ(L"value", text);
    ::SysFreeString(text);

    const struct {
        HRESULT answer;
        VARTYPE type;
        ULONG expected;
    } cases[] = {{S_OK, VT_UI4, 1332}, {S_OK, VT_I4, 0xABCD}, {E_FAIL, VT_UI4, 0xABCD}};
    for (const auto& c : cases) {
        fake.answer = c.answer;
        fake.answerValue.set(ULONG{1332});
        fake.answerValue.vt = c.type;
        ULONG result = 0xABCD;
        EXPECT_EQ(c.answer, proxy->SetObjectPermissions(nullptr, nullptr, nullptr, 0, 0, 0, &result));
        EXPECT_EQ(c.expected, result) << c.type;
    }
    void* object = &fake;
    EXPECT_EQ(E_NOINTERFACE, proxy->QueryInterface(IID_IDispatch, &object));
    EXPECT_EQ(nullptr, object);
}

// The route: the helper's answer is the item's result; a helper that says nothing
// has not applied it.
TEST_F(ProxyOnFake, RouteTakesTheHelpersAnswer)
{
    const std::wstring key = L"MACHINE\\Software\\Qelmora\\Locked";
    const std::wstring processing = L"Processing registry object '" + key + L"' in 64-bit outproc";
    const struct {
        bool handOut; // whether the factory's success hands out a helper
        HRESULT answer;
        VARTYPE type; // of the helper's result
        DWORD expected;
        std::vector<std::wstring> lines;
    } rows[] = {
        {true, S_OK, VT_UI4, ERROR_ACCESS_DENIED, {processing}},
        {true, S_OK, VT_EMPTY, ERROR_INVALID_DATA, {processing}},
        {true,
         E_FAIL,
         VT_UI4,
         static_cast<DWORD>(E_FAIL),
         {processing, L"Failed call to 64-bit set object permissions, error 80004005"}},
        {false,
         S_OK,
         VT_UI4,
         static_cast<DWORD>(E_POINTER),
         {L"Failed to obtain 64-bit helper process for permission item '" + key + L"', error '80004003'"}},
    };
    const Arguments called = {{VT_BSTR, key}, {VT_BSTR, L"CORP"},      {VT_BSTR, L"jdoe"},
                              {VT_UI4, L"4"}, {VT_UI4, L"2147483648"}, {VT_UI4, L"22"}};
    for (const auto& row : rows) {
        fake.answer = row.answer;
        fake.answerValue.set(ULONG{ERROR_ACCESS_DENIED});
        fake.answerValue.vt = row.type;
        fake.seen.clear();
        qxtest::RecordingLog log;
        auto factory = [&](IQXBEWUtils** out) {
            if (row.handOut) {
                proxy->AddRef();
                *out = proxy;
            }
            return S_OK;
        };
        EXPECT_EQ(row.expected, ApplyItemThroughHelper(log, factory,
                                                       qxtest::MakeItem(key, LockObjectKind::Registry, L"jdoe",
                                                                        0x80000000, 0x16, L"CORP")));
        EXPECT_EQ(row.lines, log.lines);
        EXPECT_EQ(row.handOut ? called : Arguments{}, fake.seen);
    }
}

} // namespace
