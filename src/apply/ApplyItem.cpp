// Applies one permission item: registry items of 32-bit components through the
// 64-bit helper process, everything else in this process.
#include "entry/SecureObject.h"

#include <cstring>

#include "apply/ApplyRules.h"
#include "helper64/QXBEWUtils.h"
#include "support/com_holders.h"

namespace {

// The helper's result before the call. A helper whose call succeeds but leaves
// the out-parameter alone has reported nothing, so the item must not count as
// applied; "The data is invalid." is what the user then sees in the prompt.
constexpr ULONG kHelperGaveNoResult = ERROR_INVALID_DATA;

} // namespace

DWORD CQXSecureObject::ApplyItem(const PermissionsItem& item)
{
    if (AppliesThroughHelper(item)) {
        qx::com_ptr<IQXBEWUtils> helper;
        HRESULT hr = CreateBitUtilsHelper(helper.put());
        if (SUCCEEDED(hr) && !helper) {
            hr = E_POINTER;
        }
        if (FAILED(hr)) {
            Log(FormatText(L"Failed to obtain 64-bit helper process for permission item '%s', error '%x'",
                           item.m_strObjectName.c_str(), static_cast<unsigned>(hr)));
            return static_cast<DWORD>(hr);
        }
        Log(FormatText(L"Processing registry object '%s' in 64-bit outproc", item.m_strObjectName.c_str()));

        // The strings own the BSTR mirrors they hand out; the item itself stays untouched.
        _stringx<> objectName(item.m_strObjectName);
        _stringx<> domain(item.m_strDomain);
        _stringx<> user(item.m_strUser);
        ULONG result = kHelperGaveNoResult;
        hr = helper->SetObjectPermissions(objectName.bstr(), domain.bstr(), user.bstr(),
                                          static_cast<ULONG>(item.m_objectType), item.m_dwPermission,
                                          item.m_dwFlags, &result);
        if (FAILED(hr)) {
            Log(FormatText(L"Failed call to 64-bit set object permissions, error %x", static_cast<unsigned>(hr)));
            return static_cast<DWORD>(hr);
        }
        return result;
    }

    EXPLICIT_ACCESS_W entry;
    std::memset(&entry, 0, sizeof(entry));
    DWORD result = BuildExplicitAccess(item, entry);
    qx::local_holder<void> sid(entry.Trustee.ptstrName); // released after the update, on every path
    if (result != ERROR_SUCCESS) {
        return result;
    }
    return UpdateObjectSecurity(item, &entry);
}
