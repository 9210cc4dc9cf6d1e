// CBitUtilsHelper against an in-process dispatch object that records each call and
// answers as each case asks.
#include <gtest/gtest.h>

#include <windows.h>
#include <accctrl.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "helper64/BitUtilsHelper.h"
#include "inc/ComHolders.h"

namespace {

// One argument as the callee saw it: its type and its value as text.
struct SeenArgument {
    VARTYPE vt;
    std::wstring value;
    bool operator==(const SeenArgument& other) const { return vt == other.vt && value == other.value; }
};

void PrintTo(const SeenArgument& a, std::ostream* out)
{
    *out << "{vt " << a.vt << ", " << testing::PrintToString(a.value) << "}";
}

std::wstring ValueText(const VARIANT& v)
{
    switch (v.vt) {
    case VT_BSTR:
        return v.bstrVal ? std::wstring(v.bstrVal) : L"<null>";
    case VT_I8:
        return std::to_wstring(v.llVal);
    case VT_I4:
        return std::to_wstring(v.lVal);
    case VT_UI4:
        return std::to_wstring(v.ulVal);
    case VT_BOOL:
        return std::to_wstring(v.boolVal);
    case VT_BSTR | VT_BYREF:
        return *v.pbstrVal ? std::wstring(*v.pbstrVal) : L"<null>";
    case VT_I4 | VT_BYREF:
        return std::to_wstring(*v.plVal);
    default:
        return L"?";
    }
}

class FakeDispatch : public IDispatch {
public:
    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (::IsEqualIID(iid, IID_IUnknown) || ::IsEqualIID(iid, IID_IDispatch)) {
            *object = this;
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; } // lives on the test's stack

    // IDispatch: only Invoke is used by the proxy's own operations.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* exception, UINT*) override
    {
        ++calls;
        seenId = id;
        seenFlags = flags;
        seenLcid = lcid;
        seenArguments.clear();
        for (UINT i = params->cArgs; i > 0; --i) { // back into declaration order
            seenArguments.push_back({params->rgvarg[i - 1].vt, ValueText(params->rgvarg[i - 1])});
        }
        seenNamed.assign(params->rgdispidNamedArgs, params->rgdispidNamedArgs + params->cNamedArgs);
        if (onCall) {
            onCall(params);
        }
        if (result) {
            qx::variant copy;
            copy.copy_from(answerValue);
            *result = copy;
            copy.vt = VT_EMPTY; // handed over
        }
        if (answer == DISP_E_EXCEPTION && exception) {
            *exception = raised;
            exception->bstrDescription = ::SysAllocString(L"raised by the fake");
        }
        return answer;
    }

    ULONG refs = 1;
    int calls = 0;
    DISPID seenId = 0;
    WORD seenFlags = 0;
    LCID seenLcid = 0xFFFFFFFF;
    std::vector<SeenArgument> seenArguments;
    std::vector<DISPID> seenNamed;

    HRESULT answer = S_OK;
    qx::variant answerValue;
    EXCEPINFO raised = {};
    std::function<void(DISPPARAMS*)> onCall;
};

// A proxy wired to a fake, as Initialize would leave it.
class ProxyOnFake : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK, CBitUtilsHelper::CreateInstance(&proxy));
        proxy->AddRef();
        fake.AddRef();
        proxy->m_pDispatch = &fake;
    }
    void TearDown() override
    {
        if (proxy) {
            EXPECT_EQ(0u, proxy->Release());
        }
        EXPECT_EQ(1u, fake.refs) << "the proxy did not release the helper's object";
    }

    FakeDispatch fake;
    CBitUtilsHelper* proxy = nullptr;
};

const LCID kUser = ::GetUserDefaultLCID();

TEST_F(ProxyOnFake, EachOperationSendsItsDispidAndArguments)
{
    BSTR text = nullptr;
    VARIANT_BOOL flag = 0;
    ULONG result = 0;
    BSTR inOutText = ::SysAllocString(L"in");
    LONG inOutValue = 7;
    using Call = std::function<HRESULT(CBitUtilsHelper&)>;
    struct Case {
        const char* what;
        Call call;
        DISPID id;
        WORD flags;
        LCID lcid;
        std::vector<SeenArgument> arguments;
    } cases[] = {
        {"Method1", [](CBitUtilsHelper& p) { return p.Method1(-5, const_cast<BSTR>(L"one")); }, 1, DISPATCH_METHOD,
         kUser, {{VT_I8, L"-5"}, {VT_BSTR, L"one"}}},
        {"Method2", [](CBitUtilsHelper& p) { return p.Method2(const_cast<BSTR>(L"two"), 1LL << 40); }, 2,
         DISPATCH_METHOD, kUser, {{VT_BSTR, L"two"}, {VT_I8, L"1099511627776"}}},
        {"Method3: no arguments", [](CBitUtilsHelper& p) { return p.Method3(); }, 3, DISPATCH_METHOD, kUser, {}},
        {"Property4", [&](CBitUtilsHelper& p) { return p.get_Property4(&text); }, 4, DISPATCH_PROPERTYGET, kUser, {}},
        {"Property5", [&](CBitUtilsHelper& p) { return p.get_Property5(&text); }, 5, DISPATCH_PROPERTYGET, kUser, {}},
        {"Property6", [&](CBitUtilsHelper& p) { return p.get_Property6(&text); }, 6, DISPATCH_PROPERTYGET, kUser, {}},
        {"Property7", [&](CBitUtilsHelper& p) { return p.get_Property7(&text); }, 7, DISPATCH_PROPERTYGET, kUser, {}},
        {"Method8: a null string stays a null BSTR",
         [](CBitUtilsHelper& p) { return p.Method8(nullptr, const_cast<BSTR>(L"b")); }, 8, DISPATCH_METHOD, kUser,
         {{VT_BSTR, L"<null>"}, {VT_BSTR, L"b"}}},
        {"Method9: four arguments",
         [](CBitUtilsHelper& p) {
             return p.Method9(const_cast<BSTR>(L"a"), const_cast<BSTR>(L"b"), const_cast<BSTR>(L"c"),
                              const_cast<BSTR>(L"d"));
         },
         9, DISPATCH_METHOD, kUser, {{VT_BSTR, L"a"}, {VT_BSTR, L"b"}, {VT_BSTR, L"c"}, {VT_BSTR, L"d"}}},
        {"Method10", [](CBitUtilsHelper& p) { return p.Method10(const_cast<BSTR>(L"a"), nullptr, -3); }, 10,
         DISPATCH_METHOD, kUser, {{VT_BSTR, L"a"}, {VT_BSTR, L"<null>"}, {VT_I4, L"-3"}}},
        {"Method11: VARIANT_TRUE stays true",
         [&](CBitUtilsHelper& p) { return p.Method11(nullptr, nullptr, 1, VARIANT_TRUE, &flag); }, 11,
         DISPATCH_METHOD, kUser, {{VT_BSTR, L"<null>"}, {VT_BSTR, L"<null>"}, {VT_I4, L"1"}, {VT_BOOL, L"-1"}}},
        {"Method12: any other value is false",
         [&](CBitUtilsHelper& p) { return p.Method12(nullptr, nullptr, 2, 1, &flag); }, 12, DISPATCH_METHOD, kUser,
         {{VT_BSTR, L"<null>"}, {VT_BSTR, L"<null>"}, {VT_I4, L"2"}, {VT_BOOL, L"0"}}},
        {"Method13: by reference, locale 0",
         [&](CBitUtilsHelper& p) {
             return p.Method13(const_cast<BSTR>(L"a"), const_cast<BSTR>(L"b"), &inOutText, &inOutValue);
         },
         13, DISPATCH_METHOD, 0,
         {{VT_BSTR, L"a"}, {VT_BSTR, L"b"}, {VT_BSTR | VT_BYREF, L"in"}, {VT_I4 | VT_BYREF, L"7"}}},
        {"SetObjectPermissions",
         [&](CBitUtilsHelper& p) {
             return p.SetObjectPermissions(const_cast<BSTR>(L"MACHINE\\SOFTWARE\\X"), const_cast<BSTR>(L"BUILTIN"),
                                           const_cast<BSTR>(L"Users"), SE_REGISTRY_KEY, KEY_READ, 0x16, &result);
         },
         14, DISPATCH_METHOD, kUser,
         {{VT_BSTR, L"MACHINE\\SOFTWARE\\X"}, {VT_BSTR, L"BUILTIN"}, {VT_BSTR, L"Users"}, {VT_UI4, L"4"},
          {VT_UI4, L"131097"}, {VT_UI4, L"22"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        int callsBefore = fake.calls;
        EXPECT_EQ(S_OK, c.call(*proxy));
        EXPECT_EQ(callsBefore + 1, fake.calls) << "one call, never retried";
        EXPECT_EQ(c.id, fake.seenId);
        EXPECT_EQ(c.flags, fake.seenFlags);
        EXPECT_EQ(c.lcid, fake.seenLcid);
        EXPECT_EQ(c.arguments, fake.seenArguments);
        EXPECT_TRUE(fake.seenNamed.empty());
    }
    ::SysFreeString(text);
    ::SysFreeString(inOutText);
}

TEST_F(ProxyOnFake, InvokeHelperCountsLeadingArgumentsAndNamesThePutValue)
{
    qx::variant a;
    a.set_i4(1);
    qx::variant b;
    b.set_i4(2);
    qx::variant none;
    qx::variant result;
    // Arguments after the first empty slot are not sent.
    EXPECT_EQ(S_OK, proxy->InvokeHelper(&result, 77, DISPATCH_METHOD, a, none, b, none, none));
    EXPECT_EQ((std::vector<SeenArgument>{{VT_I4, L"1"}}), fake.seenArguments);

    EXPECT_EQ(S_OK, proxy->InvokeHelper(&result, 78, DISPATCH_PROPERTYPUT, b, none, none, none, none));
    EXPECT_EQ(78, fake.seenId);
    EXPECT_EQ((std::vector<SeenArgument>{{VT_I4, L"2"}}), fake.seenArguments);
    EXPECT_EQ(std::vector<DISPID>{DISPID_PROPERTYPUT}, fake.seenNamed);

    EXPECT_EQ(S_OK, proxy->InvokeHelper(&result, 79, DISPATCH_METHOD, a, b, a, b, a));
    EXPECT_EQ(5u, fake.seenArguments.size());
}

HRESULT STDMETHODCALLTYPE FillInCodeNine(EXCEPINFO* exception)
{
    exception->wCode = 9;
    return S_OK;
}

TEST_F(ProxyOnFake, RaisedExceptionsBecomeHresults)
{
    struct Case {
        const char* what;
        HRESULT answer;
        WORD wCode;
        SCODE scode;
        HRESULT(STDMETHODCALLTYPE* fillIn)(EXCEPINFO*);
        HRESULT expected;
    } cases[] = {
        {"error code 5", DISP_E_EXCEPTION, 5, 0, nullptr, static_cast<HRESULT>(0x80040005)},
        {"the error code wins over the status", DISP_E_EXCEPTION, 0x1234, E_ACCESSDENIED, nullptr,
         static_cast<HRESULT>(0x80041234)},
        {"status code alone", DISP_E_EXCEPTION, 0, E_ACCESSDENIED, nullptr, E_ACCESSDENIED},
        {"neither", DISP_E_EXCEPTION, 0, 0, nullptr, DISP_E_EXCEPTION},
        {"deferred fill-in runs first", DISP_E_EXCEPTION, 0, 0, FillInCodeNine, static_cast<HRESULT>(0x80040009)},
        {"other failures pass unchanged", DISP_E_TYPEMISMATCH, 5, 0, nullptr, DISP_E_TYPEMISMATCH},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fake.answer = c.answer;
        fake.raised = EXCEPINFO();
        fake.raised.wCode = c.wCode;
        fake.raised.scode = c.scode;
        fake.raised.pfnDeferredFillIn = c.fillIn;
        EXPECT_EQ(c.expected, proxy->Method3());
    }
    // SetObjectPermissions calls Invoke itself and hands the HRESULT back as it came.
    fake.answer = DISP_E_EXCEPTION;
    fake.raised = EXCEPINFO();
    fake.raised.wCode = 5;
    ULONG result = 0;
    EXPECT_EQ(DISP_E_EXCEPTION, proxy->SetObjectPermissions(nullptr, nullptr, nullptr, 0, 0, 0, &result));
}

TEST_F(ProxyOnFake, GettersCopyOnlyAStringResult)
{
    const BSTR untouched = reinterpret_cast<BSTR>(static_cast<uintptr_t>(0x1234));
    struct Case {
        const char* what;
        HRESULT answer;
        std::function<void(qx::variant&)> value;
        HRESULT expected;
        bool copied;
        const wchar_t* text; // when copied; null for a null BSTR
    } cases[] = {
        {"a string", S_OK, [](qx::variant& v) { v.set_bstr(L"value"); }, S_OK, true, L"value"},
        {"a null string", S_OK, [](qx::variant& v) { v.set_bstr(nullptr); }, S_OK, true, nullptr},
        {"S_FALSE counts as success", S_FALSE, [](qx::variant& v) { v.set_bstr(L"x"); }, S_OK, true, L"x"},
        {"not a string", S_OK, [](qx::variant& v) { v.set_i4(5); }, S_OK, false, nullptr},
        {"a failed call", E_FAIL, [](qx::variant& v) { v.set_bstr(L"ignored"); }, E_FAIL, false, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fake.answer = c.answer;
        c.value(fake.answerValue);
        BSTR out = untouched;
        EXPECT_EQ(c.expected, proxy->get_Property5(&out));
        if (!c.copied) {
            EXPECT_EQ(untouched, out);
            continue;
        }
        if (c.text) {
            ASSERT_NE(nullptr, out);
            EXPECT_NE(fake.answerValue.bstrVal, out) << "the caller gets its own copy";
            EXPECT_STREQ(c.text, out);
        } else {
            EXPECT_EQ(nullptr, out);
        }
        ::SysFreeString(out);
    }
}

TEST_F(ProxyOnFake, BooleanResultsAreClearedBeforeTheCall)
{
    struct Case {
        const char* what;
        HRESULT answer;
        VARIANT_BOOL answered;
        HRESULT expected;
        VARIANT_BOOL result;
    } cases[] = {
        {"true", S_OK, VARIANT_TRUE, S_OK, VARIANT_TRUE},
        {"false", S_FALSE, VARIANT_FALSE, S_OK, VARIANT_FALSE},
        {"failure leaves 0", E_ACCESSDENIED, VARIANT_TRUE, E_ACCESSDENIED, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fake.answer = c.answer;
        fake.answerValue.clear();
        fake.answerValue.vt = VT_BOOL;
        fake.answerValue.boolVal = c.answered;
        VARIANT_BOOL out = 0x55;
        EXPECT_EQ(c.expected, proxy->Method11(nullptr, nullptr, 0, VARIANT_FALSE, &out));
        EXPECT_EQ(c.result, out);
    }
}

TEST_F(ProxyOnFake, SetObjectPermissionsStoresOnlyAnUnsignedResult)
{
    struct Case {
        const char* what;
        HRESULT answer;
        std::function<void(qx::variant&)> value;
        ULONG expected;
    } cases[] = {
        {"VT_UI4", S_OK, [](qx::variant& v) { v.set_ui4(1332); }, 1332},
        {"VT_I4 is another type", S_OK, [](qx::variant& v) { v.set_i4(5); }, 0xABCD},
        {"nothing", S_OK, [](qx::variant& v) { v.clear(); }, 0xABCD},
        {"failed call", E_FAIL, [](qx::variant& v) { v.set_ui4(7); }, 0xABCD},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fake.answer = c.answer;
        c.value(fake.answerValue);
        ULONG result = 0xABCD;
        EXPECT_EQ(c.answer, proxy->SetObjectPermissions(nullptr, nullptr, nullptr, 0, 0, 0, &result));
        EXPECT_EQ(c.expected, result);
    }
    EXPECT_EQ(E_POINTER, proxy->SetObjectPermissions(nullptr, nullptr, nullptr, 0, 0, 0, nullptr));
}

TEST_F(ProxyOnFake, Method13WritesBackThroughTheReferences)
{
    fake.onCall = [](DISPPARAMS* params) {
        VARIANT& text = params->rgvarg[1];
        ::SysFreeString(*text.pbstrVal);
        *text.pbstrVal = ::SysAllocString(L"out");
        *params->rgvarg[0].plVal = 99;
    };
    BSTR text = ::SysAllocString(L"in");
    LONG value = 1;
    EXPECT_EQ(S_OK, proxy->Method13(nullptr, nullptr, &text, &value));
    EXPECT_STREQ(L"out", text);
    EXPECT_EQ(99, value);
    ::SysFreeString(text);
    fake.answer = DISP_E_EXCEPTION; // untranslated: Method13 calls Invoke itself
    EXPECT_EQ(DISP_E_EXCEPTION, proxy->Method13(nullptr, nullptr, &text, &value));
}

TEST(BitUtilsHelper, HandsOutItselfForItsOwnInterfacesOnly)
{
    CBitUtilsHelper* proxy = nullptr;
    ASSERT_EQ(S_OK, CBitUtilsHelper::CreateInstance(&proxy));
    EXPECT_EQ(1u, proxy->AddRef()) << "a new proxy starts at 0";
    struct Case {
        const char* what;
        const IID& iid;
        HRESULT expected;
    } cases[] = {
        {"IUnknown", IID_IUnknown, S_OK},
        {"IQXBEWUtils", IID_IQXBEWUtils, S_OK},
        {"IDispatch, although implemented", IID_IDispatch, E_NOINTERFACE},
        {"anything else", IID_IClassFactory, E_NOINTERFACE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        void* object = reinterpret_cast<void*>(1);
        EXPECT_EQ(c.expected, proxy->QueryInterface(c.iid, &object));
        if (c.expected == S_OK) {
            EXPECT_EQ(static_cast<IQXBEWUtils*>(proxy), object);
            EXPECT_EQ(1u, proxy->Release()) << "one reference was added";
        } else {
            EXPECT_EQ(nullptr, object);
        }
    }
    EXPECT_EQ(E_POINTER, proxy->QueryInterface(IID_IUnknown, nullptr));
    EXPECT_EQ(0u, proxy->Release());
}

} // namespace
