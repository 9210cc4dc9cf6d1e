// The helper program's object and its COM security, in this process: what reaches
// the security calls for each request, and the descriptor that decides who may call.
// Wine's named-security calls accept SE_REGISTRY_WOW64_32KEY and ignore it, so the
// 32-bit view is checked here, at the calls the object makes.
#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "SecurityTestSupport.h"
#include "helper64/QXBEWUtils.h"
#include "helper64/qxbew/CallerSecurity.h"
#include "helper64/qxbew/HelperObject.h"
#include "support/com_ptr.h"
#include "support/variant.h"

namespace {

// Every object type the object's security calls were asked about; each call fails
// so that nothing is written.
std::vector<SE_OBJECT_TYPE> g_types;

DWORD WINAPI RecordingGetNamedSecurityInfoW(LPCWSTR, SE_OBJECT_TYPE type, SECURITY_INFORMATION, PSID*, PSID*, PACL*,
                                            PACL*, PSECURITY_DESCRIPTOR*)
{
    g_types.push_back(type);
    return ERROR_ACCESS_DENIED;
}

// SetObjectPermissions (DISPID 14) as the proxy sends it: six arguments, last first.
ULONG Request(CHelperObject& object, ULONG objectType, ULONG flags)
{
    qx::variant arguments[6];
    arguments[5].set(L"MACHINE\\Software\\QXLockTest");
    arguments[4].set(L"");
    arguments[3].set(L"Users");
    arguments[2].set(objectType);
    arguments[1].set(ULONG{KEY_READ});
    arguments[0].set(flags);
    DISPPARAMS params = {arguments, nullptr, 6, 0};
    qx::variant result;
    EXPECT_EQ(S_OK, object.Invoke(DISPID_QXBEW_SETOBJECTPERMISSIONS, IID_NULL, 0, DISPATCH_METHOD, &params, &result,
                                  nullptr, nullptr));
    EXPECT_EQ(VT_UI4, result.vt);
    return result.ulVal;
}

TEST(HelperObject, LocksRegistryKeysOnlyInTheViewOfTheirComponent)
{
    CSecurityFunctions security;
    security.m_pfnGetNamedSecurityInfoW = &RecordingGetNamedSecurityInfoW;
    qx::com_ptr<CHelperObject> object(new CHelperObject(security));
    const struct {
        ULONG objectType;
        ULONG flags;
        ULONG result;
        std::vector<SE_OBJECT_TYPE> calls;
    } rows[] = {
        // A component without the 64-bit attribute (0x16 from costing): the 32-bit view.
        {SE_REGISTRY_KEY, 0x16, ERROR_ACCESS_DENIED, {SE_REGISTRY_WOW64_32KEY}},
        {SE_REGISTRY_KEY, 0x17, ERROR_ACCESS_DENIED, {SE_REGISTRY_WOW64_32KEY}},
        // A 64-bit component whose row sets flag 2 or 4: its own view, the 64-bit one.
        {SE_REGISTRY_KEY, 0x0A, ERROR_ACCESS_DENIED, {SE_REGISTRY_KEY}},
        {SE_REGISTRY_KEY, 0x0C, ERROR_ACCESS_DENIED, {SE_REGISTRY_KEY}},
        // The view follows the flags, whichever registry type is asked for.
        {SE_REGISTRY_WOW64_32KEY, 0x08, ERROR_ACCESS_DENIED, {SE_REGISTRY_KEY}},
        {SE_REGISTRY_WOW64_32KEY, 0x10, ERROR_ACCESS_DENIED, {SE_REGISTRY_WOW64_32KEY}},
        // Nothing but keys, touched on anyone's word.
        {SE_FILE_OBJECT, 0x16, ERROR_INVALID_PARAMETER, {}},
        {SE_SERVICE, 0x08, ERROR_INVALID_PARAMETER, {}},
        {SE_UNKNOWN_OBJECT_TYPE, 0x16, ERROR_INVALID_PARAMETER, {}},
        {13 /* SE_REGISTRY_WOW64_64KEY */, 0x08, ERROR_INVALID_PARAMETER, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "type " << row.objectType << ", flags " << row.flags);
        g_types.clear();
        EXPECT_EQ(row.result, Request(*object.get(), row.objectType, row.flags));
        EXPECT_EQ(row.calls, g_types);
    }
}

// The descriptor handed to CoInitializeSecurity, kept by the stand-in as text.
std::wstring g_descriptor;
LONG g_services = 0;
DWORD g_authentication = 0;
DWORD g_impersonation = 0;

HRESULT WINAPI RecordingInitializeSecurity(PSECURITY_DESCRIPTOR descriptor, LONG services, SOLE_AUTHENTICATION_SERVICE*,
                                           void*, DWORD authentication, DWORD impersonation, void*, DWORD, void*)
{
    LPWSTR text = nullptr;
    if (::ConvertSecurityDescriptorToStringSecurityDescriptorW(
            descriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text, nullptr)) {
        g_descriptor = text;
        ::LocalFree(text);
    }
    g_services = services;
    g_authentication = authentication;
    g_impersonation = impersonation;
    return S_OK;
}

TEST(HelperObject, OnlyLocalSystemAdministratorsAndItsOwnAccountMayCall)
{
    ASSERT_EQ(S_OK, RestrictCallers(&RecordingInitializeSecurity));
    const std::wstring self = qxtest::CurrentUserSid();
    ASSERT_FALSE(self.empty());
    // Calls and local calls (0x3, which the text writes as CCDC) for each of the
    // three, nothing for anyone else.
    EXPECT_EQ(L"O:" + self + L"D:(A;;CCDC;;;SY)(A;;CCDC;;;BA)(A;;CCDC;;;" + self + L")", g_descriptor);
    EXPECT_EQ(-1, g_services);
    EXPECT_EQ(static_cast<DWORD>(RPC_C_AUTHN_LEVEL_DEFAULT), g_authentication);
    EXPECT_EQ(static_cast<DWORD>(RPC_C_IMP_LEVEL_IDENTIFY), g_impersonation);
}

} // namespace
