// CBitUtilsHelper against an in-process dispatch object that records each call and
// answers as each case asks.
#include <gtest/gtest.h>

#include <windows.h>
#include <accctrl.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "helper64/BitUtilsHelper.h"
#include "support/com_apartment.h"
#include "support/com_ptr.h"
#include "support/unique_any.h"
#include "support/variant.h"

namespace {

// Each positional argument in declaration order, as its type and its value as text.
using Arguments = std::vector<std::pair<VARTYPE, std::wstring>>;

class FakeDispatch : public IDispatch {
public:
    // Only Invoke and the reference count are used by the proxy's own operations.
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
            VARIANT& argument = params->rgvarg[i - 1];
            EXPECT_EQ(S_OK, ::VariantChangeType(&text, &argument, 0, VT_BSTR));
            seen.emplace_back(argument.vt, text.bstrVal ? text.bstrVal : L"");
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
    struct Case {
        const char* what;
        std::function<HRESULT(CBitUtilsHelper&)> call;
        DISPID id;
        Arguments arguments;
    } cases[] = {
        {"none", [](CBitUtilsHelper& p) { return p.Method3(); }, 3, {}},
        {"64-bit number first",
         [](CBitUtilsHelper& p) { return p.Method1(-5, B(L"one")); },
         1,
         {{VT_I8, L"-5"}, {VT_BSTR, L"one"}}},
        {"four strings",
         [](CBitUtilsHelper& p) { return p.Method9(B(L"a"), B(L"b"), B(L"c"), B(L"d")); },
         9,
         {{VT_BSTR, L"a"}, {VT_BSTR, L"b"}, {VT_BSTR, L"c"}, {VT_BSTR, L"d"}}},
        {"SetObjectPermissions",
         [&](CBitUtilsHelper& p) {
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
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(S_OK, c.call(*proxy));
        EXPECT_EQ(c.id, fake.seenId);
        EXPECT_EQ(c.arguments, fake.seen);
    }
}

TEST_F(ProxyOnFake, RaisedExceptionsBecomeHresults)
{
    struct Case {
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
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "wCode " << c.wCode << ", scode " << std::hex << c.scode);
        fake.answer = c.answer;
        fake.raised.wCode = c.wCode;
        fake.raised.scode = c.scode;
        EXPECT_EQ(c.expected, proxy->Method3());
    }
}

TEST_F(ProxyOnFake, ResultsAreTakenOnlyInTheirOwnType)
{
    const BSTR untouched = B(L"untouched");
    BSTR text = untouched;
    fake.answerValue.set(L"value");
    EXPECT_EQ(S_OK, proxy->get_Property4(&text));
    EXPECT_STREQ(L"value", text);
    ::SysFreeString(text);
    fake.answerValue.set(static_cast<const wchar_t*>(nullptr));
    text = untouched;
    EXPECT_EQ(S_OK, proxy->get_Property4(&text));
    EXPECT_EQ(nullptr, text) << "a null string stays null";

    struct Case {
        HRESULT answer;
        VARTYPE type;
        ULONG expected;
    } cases[] = {{S_OK, VT_UI4, 1332}, {S_OK, VT_I4, 0xABCD}, {E_FAIL, VT_UI4, 0xABCD}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "vt " << c.type << ", answer " << std::hex << c.answer);
        fake.answer = c.answer;
        fake.answerValue.set(ULONG{1332});
        fake.answerValue.vt = c.type;
        ULONG result = 0xABCD;
        EXPECT_EQ(c.answer, proxy->SetObjectPermissions(nullptr, nullptr, nullptr, 0, 0, 0, &result));
        EXPECT_EQ(c.expected, result);
    }
}

TEST_F(ProxyOnFake, HandsOutItsOwnInterfaceButNotIDispatch)
{
    void* object = &fake;
    EXPECT_EQ(E_NOINTERFACE, proxy->QueryInterface(IID_IDispatch, &object));
    EXPECT_EQ(nullptr, object);
    ASSERT_EQ(S_OK, proxy->QueryInterface(IID_IQXBEWUtils, &object));
    EXPECT_EQ(static_cast<IQXBEWUtils*>(proxy), object);
    proxy->Release();
}

} // namespace
