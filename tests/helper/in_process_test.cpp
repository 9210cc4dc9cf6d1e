// The helper's parts that run in this process: the library's proxy, over a stand-in
// for the helper's object and over the real one, and the helper program's command
// line and caller security.
#include <gtest/gtest.h>

#include <windows.h>

#include <optional>
#include <tuple>

#include "RecordingLog.h"
#include "SecurityTestSupport.h"
#include "helper64/BitUtilsHelper.h"
#include "helper64/HelperRoute.h"
#include "helper64/qxbew/CallerSecurity.h"
#include "helper64/qxbew/CommandLine.h"
#include "helper64/qxbew/HelperObject.h"
#include "support/variant.h"

namespace {

qx::com_ptr<CBitUtilsHelper> ProxyOn(IDispatch* object) // as Initialize leaves it; takes the reference over
{
    CBitUtilsHelper* proxy = nullptr;
    EXPECT_EQ(S_OK, CBitUtilsHelper::CreateInstance(&proxy));
    proxy->AddRef();
    proxy->Attach(object);
    return qx::com_ptr<CBitUtilsHelper>(proxy);
}

class FakeHelper : public CHelperObject { // records each call's arguments, answers as told
public:
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                                     UINT*) override
    {
        seen.clear();
        for (UINT i = params->cArgs; i > 0; --i) { // Invoke gets them last first
            qx::variant text;
            EXPECT_EQ(S_OK, ::VariantChangeType(&text, &params->rgvarg[i - 1], 0, VT_BSTR));
            seen.push_back(text.bstrVal ? text.bstrVal : L"");
        }
        if (answer == E_OUTOFMEMORY) { // thrown, as the proxy's own work may, say with no memory for an argument
            throw qx::error(E_OUTOFMEMORY, L"No memory for a BSTR");
        }
        result->vt = answerType;
        result->ulVal = ERROR_ACCESS_DENIED;
        return answer;
    }

    std::vector<std::wstring> seen; // the arguments in declaration order, as text
    HRESULT answer = S_OK;
    VARTYPE answerType = VT_UI4;
};

// The helper's answer is the item's result, taken only in its own type: a helper
// that says nothing has not applied the item. Its failure is passed on as it is; the
// proxy, a COM method, lets no exception out: what its work throws comes back as its code.
TEST(HelperProxy, RouteTakesTheHelpersAnswer)
{
    FakeHelper fake;
    qx::com_ptr<CBitUtilsHelper> proxy = ProxyOn((fake.AddRef(), &fake));
    const std::wstring key = L"MACHINE\\Software\\Qelmora\\Locked";
    const std::wstring processing = L"Processing registry object '" + key + L"' in 64-bit outproc";
    const std::wstring failed = L"Failed call to 64-bit set object permissions, error ";
    const auto none = L"Failed to obtain 64-bit helper process for permission item '" + key + L"', error '80004003'";
    const std::tuple<bool, HRESULT, VARTYPE, DWORD, std::vector<std::wstring>> rows[] = {
        {true, S_OK, VT_UI4, ERROR_ACCESS_DENIED, {processing}},
        {true, S_OK, VT_EMPTY, ERROR_INVALID_DATA, {processing}},
        {true, S_OK, VT_I4, ERROR_INVALID_DATA, {processing}},
        {true, DISP_E_EXCEPTION, VT_UI4, 0x80020009u, {processing, failed + L"80020009"}},
        {true, E_OUTOFMEMORY, VT_UI4, 0x8007000Eu, {processing, failed + L"8007000e"}},
        {false, S_OK, VT_UI4, 0x80004003u, {none}},
    };
    const PermissionsItem item = qxtest::MakeItem(key, LockObjectKind::Registry, L"jdoe", 0x80000000, 0x16, L"CORP");
    const std::vector<std::wstring> sent = {key, L"CORP", L"jdoe", L"4", L"2147483648", L"22"};
    for (const auto& [handOut, answer, type, expected, lines] : rows) {
        fake.answer = answer;
        fake.answerType = type;
        fake.seen.clear();
        qxtest::RecordingLog log;
        auto factory = [&proxy, helper = handOut](IQXBEWUtils** out) {
            return helper ? proxy->QueryInterface(IID_IQXBEWUtils, reinterpret_cast<void**>(out)) : S_OK;
        };
        EXPECT_EQ(expected, qxtest::CodeOf(log, [&] { ApplyItemThroughHelper(log, factory, item); }));
        EXPECT_EQ(lines, log.lines);
        EXPECT_EQ(handOut ? sent : std::vector<std::wstring>{}, fake.seen);
    }
}

// The view is the component's, whatever type the caller names: a key of a
// component without the 64-bit attribute (0x10) is locked in the 32-bit view, any
// other in the helper's own, the 64-bit one. Nothing but keys, on anyone's word.
// A key that only the 64-bit view has is not there for a 32-bit component's row.
TEST(HelperProgram, ObjectLocksRegistryKeysOnlyInTheViewOfTheirFlags)
{
    qx::com_ptr<CBitUtilsHelper> proxy = ProxyOn(new CHelperObject());
    const wchar_t* before = L"D:(A;OICI;KA;;;BA)";
    const std::wstring granted = L";KR;;;BU)";
    enum Changed { Neither, View32, View64 };
    const std::tuple<ULONG, ULONG, ULONG, Changed, bool> rows[] = {
        {SE_REGISTRY_KEY, 0x16, ERROR_SUCCESS, View32, true},
        {SE_REGISTRY_WOW64_32KEY, 0x10, ERROR_SUCCESS, View32, true},
        {SE_REGISTRY_WOW64_32KEY, 0x08, ERROR_SUCCESS, View64, true},
        {SE_REGISTRY_KEY, 0x02, ERROR_SUCCESS, View64, true},
        {SE_FILE_OBJECT, 0x16, ERROR_INVALID_PARAMETER, Neither, true},
        {13 /* SE_REGISTRY_WOW64_64KEY */, 0x08, ERROR_INVALID_PARAMETER, Neither, true},
        {SE_REGISTRY_KEY, 0x16, ERROR_FILE_NOT_FOUND, Neither, false},
    };
    _stringx<> domain(L""), user(L"Users");
    for (const auto& [objectType, flags, expected, changed, in32] : rows) {
        SCOPED_TRACE(testing::Message() << objectType << ", flags " << flags);
        std::optional<qxtest::TestKey> key32;
        if (in32) {
            key32.emplace(L"Helper", before, qxtest::KeyHive::Machine32);
        }
        qxtest::TestKey key64(L"Helper", before, qxtest::KeyHive::Machine64);
        _stringx<> name(key64.Name().c_str()); // the same in both views
        ULONG result = 1;
        EXPECT_EQ(S_OK, proxy->SetObjectPermissions(name.bstr(), domain.bstr(), user.bstr(), objectType, KEY_READ,
                                                    flags, &result));
        EXPECT_EQ(expected, result);
        EXPECT_EQ(changed == View32, key32 && key32->Dacl().find(granted) != std::wstring::npos);
        EXPECT_EQ(changed == View64, key64.Dacl().find(granted) != std::wstring::npos) << key64.Dacl();
    }
}

std::wstring g_callers; // the descriptor handed to CoInitializeSecurity, as text

HRESULT WINAPI RecordingInitializeSecurity(PSECURITY_DESCRIPTOR descriptor, LONG, SOLE_AUTHENTICATION_SERVICE*, void*,
                                           DWORD, DWORD, void*, DWORD, void*)
{
    g_callers = qxtest::DescriptorText(descriptor, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION);
    return S_OK;
}

TEST(HelperProgram, OnlyLocalSystemAdministratorsAndItsOwnAccountMayCall)
{
    ASSERT_EQ(S_OK, RestrictCallers(&RecordingInitializeSecurity));
    const std::wstring self = qxtest::CurrentUserSid();
    // Calls and local calls (0x3, written CCDC) for the three, nothing for anyone else.
    EXPECT_EQ(L"O:" + self + L"D:(A;;CCDC;;;SY)(A;;CCDC;;;BA)(A;;CCDC;;;" + self + L")", g_callers);
}

#define QX_CLSID L"{EFB7539B-24F3-46B6-AF6E-3B021B51EFEF}"
#define QX_GUID L"{0A1B2C3D-4E5F-4061-8273-94A5B6C7D8E9}"

TEST(HelperProgram, CommandLineIsTheLastTokenWhateverThePathLooksLike)
{
    const std::pair<const wchar_t*, bool> cases[] = {
        {L"C:\\Temp\\with space\\wac1A2B.tmp " QX_CLSID L":" QX_GUID, true},
        {L"\"C:\\Temp\\with space\\QXBEW.exe\" " QX_CLSID L":" QX_GUID, true},
        {L"QXBEW.exe\t{efb7539b-24f3-46b6-af6e-3b021b51efef}:" QX_GUID L"  \t", true},
        {QX_CLSID L":" QX_GUID, false}, // no program path
        {L"QXBEW.exe " QX_CLSID L":" QX_GUID L"x", false},
        {L"QXBEW.exe " QX_CLSID L": " QX_GUID, false},
        {L"QXBEW.exe " QX_CLSID L":(0A1B2C3D-4E5F-4061-8273-94A5B6C7D8E9)", false},
        {L"QXBEW.exe " QX_CLSID L":" QX_GUID L" extra", false},
    };
    for (const auto& [line, parsed] : cases) {
        HelperArguments arguments;
        EXPECT_EQ(parsed, ParseHelperCommandLine(line, arguments)) << line;
        // Registered under the text as given: the name the client binds to.
        EXPECT_TRUE(!parsed || (arguments.instanceText == QX_GUID && arguments.clsid == CLSID_QXBEWUtils)) << line;
    }
}

} // namespace
