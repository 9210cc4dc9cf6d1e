#include "helper64/HelperRoute.h"

#include "support/com_ptr.h"
#include "support/error.h"

namespace {

// The helper's result before the call. A helper whose call succeeds but leaves
// the out-parameter alone has reported nothing, so the item must not count as
// applied; "The data is invalid." is what the user then sees in the prompt.
constexpr ULONG kHelperGaveNoResult = ERROR_INVALID_DATA;

} // namespace

void ApplyItemThroughHelper(qx::log_sink& log, const std::function<HRESULT(IQXBEWUtils**)>& createHelper,
                            const PermissionsItem& item)
{
    qx::com_ptr<IQXBEWUtils> helper;
    HRESULT hr = createHelper(helper.put());
    if (SUCCEEDED(hr) && !helper) {
        hr = E_POINTER;
    }
    if (FAILED(hr)) {
        throw qx::error(hr, FormatText(L"Failed to obtain 64-bit helper process for permission item '%s', error '%x'",
                                       item.m_strObjectName.c_str(), static_cast<unsigned>(hr)));
    }
    log.Log(FormatText(L"Processing registry object '%s' in 64-bit outproc", item.m_strObjectName.c_str()));

    // The strings own the BSTR mirrors they hand out; the item itself stays untouched.
    _stringx<> objectName(item.m_strObjectName);
    _stringx<> domain(item.m_strDomain);
    _stringx<> user(item.m_strUser);
    ULONG result = kHelperGaveNoResult;
    hr = helper->SetObjectPermissions(objectName.bstr(), domain.bstr(), user.bstr(),
                                      static_cast<ULONG>(item.m_objectType), item.m_dwPermission, item.m_dwFlags,
                                      &result);
    if (FAILED(hr)) {
        throw qx::error(
            hr, FormatText(L"Failed call to 64-bit set object permissions, error %x", static_cast<unsigned>(hr)));
    }
    if (result != ERROR_SUCCESS) {
        throw qx::error(static_cast<DWORD>(result), _stringx<>()); // the helper has no log: its code says it
    }
}
