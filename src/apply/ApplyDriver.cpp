// Applies the items of the install action in order and lets the user decide
// about each failure: Abort, Retry or Ignore.
#include "entry/LockPermissionsManager.h"

#include "apply/ApplyRules.h"
#include "msi/MsiHandle.h"
#include "support/platform.h"

namespace {

// The package's Error table holds the wording of this message.
constexpr UINT kApplyErrorMessage = 27555;
constexpr INSTALLMESSAGE kApplyErrorPrompt =
    static_cast<INSTALLMESSAGE>(INSTALLMESSAGE_ERROR | MB_ABORTRETRYIGNORE | MB_ICONWARNING);
constexpr DWORD kSystemMessageLength = 1040;

// Switches WOW64 file-system redirection off for one item, and back even when
// the item throws.
class RedirectionOff {
public:
    RedirectionOff() { qx::set_fs_redirection(false); }
    RedirectionOff(const RedirectionOff&) = delete;
    RedirectionOff& operator=(const RedirectionOff&) = delete;
    ~RedirectionOff() { qx::set_fs_redirection(true); }
};

} // namespace

DWORD CQxLockPermissionsManager::ApplyPermissionsItems()
{
    std::size_t index = 0;
    while (index < m_finalPermissionsItems.size()) {
        const PermissionsItem& item = m_finalPermissionsItems[index];
        DWORD result;
        if (AppliesWithoutRedirection(item, m_strSystemDirectory)) {
            RedirectionOff redirectionOff;
            result = ApplyItem(item);
        } else {
            result = ApplyItem(item);
        }
        if (result == ERROR_SUCCESS) {
            ++index;
            continue;
        }

        Log(FormatText(L"Failed to apply permissions for object '%s', error 0x%08x", item.m_strObjectName.c_str(),
                       result));
        if ((item.m_dwFlags & LOCKPERM_IGNORE_FAILURE) != 0) {
            ++index;
            continue;
        }
        switch (PromptApplyError(kApplyErrorMessage, result, item)) {
        case IDRETRY:
            break;
        case IDIGNORE:
            ++index;
            break;
        default:
            // IDABORT, no answer (0), an error (-1) or a button we did not offer.
            return ERROR_INSTALL_FAILURE;
        }
    }
    return ERROR_SUCCESS;
}

int CQxLockPermissionsManager::PromptApplyError(UINT messageId, DWORD error, const PermissionsItem& item)
{
    CMsiHandle record(::MsiCreateRecord(4));
    ::MsiRecordSetInteger(record, 1, static_cast<int>(messageId));
    ::MsiRecordSetStringW(record, 2, item.m_strObjectName);

    // Left empty when the system has no text for the code.
    _stringx<> systemText;
    systemText.resize(kSystemMessageLength);
    {
        _stringx<>::string_buffer buffer(systemText);
        ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, buffer,
                         kSystemMessageLength, nullptr);
    }
    ::MsiRecordSetStringW(record, 3, systemText);
    ::MsiRecordSetInteger(record, 4, static_cast<int>(error));

    return ::MsiProcessMessage(m_hInstall, kApplyErrorPrompt, record);
}
