#include "apply/ApplyDriver.h"

#include "apply/ApplyRules.h"
#include "msi/MsiHandle.h"
#include "support/error.h"

namespace {

constexpr INSTALLMESSAGE kApplyErrorPrompt =
    static_cast<INSTALLMESSAGE>(INSTALLMESSAGE_ERROR | MB_ABORTRETRYIGNORE | MB_ICONWARNING);
constexpr DWORD kSystemMessageLength = 1040;

// Puts a failed item to the user as the package's error message messageId, worded
// by its Error table: [2] the object, [3] the system's text, [4] the code. The
// installer's answer.
int PromptApplyError(MSIHANDLE hInstall, UINT messageId, DWORD error, const PermissionsItem& item)
{
    qx::unique_msihandle record(::MsiCreateRecord(4));
    ::MsiRecordSetInteger(record.get(), 1, static_cast<int>(messageId));
    ::MsiRecordSetStringW(record.get(), 2, item.m_strObjectName);

    // Left empty when the system has no text for the code.
    _stringx<> systemText;
    systemText.resize(kSystemMessageLength);
    {
        _stringx<>::string_buffer buffer(systemText);
        ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, buffer,
                         kSystemMessageLength, nullptr);
    }
    ::MsiRecordSetStringW(record.get(), 3, systemText);
    ::MsiRecordSetInteger(record.get(), 4, static_cast<int>(error));

    return ::MsiProcessMessage(hInstall, kApplyErrorPrompt, record.get());
}

} // namespace

bool ApplyPermissionsItems(MSIHANDLE hInstall, qx::log_sink& log, const std::vector<PermissionsItem>& items,
                           const _stringx<>& systemDirectory, const ApplyOneItem& applyItem)
{
    std::size_t index = 0;
    while (index < items.size()) {
        const PermissionsItem& item = items[index];
        DWORD result = ERROR_SUCCESS;
        if (HasRelativeFileName(item)) {
            result = ERROR_INVALID_NAME; // before any call that would resolve it
        } else {
            // Each item's failure is a decision: the user's, or its flags'.
            try {
                RedirectionOff redirection(AppliesWithoutRedirection(item, systemDirectory));
                applyItem(item);
            } catch (const qx::error& failure) {
                if (!failure.message().empty()) {
                    log.Log(failure.message());
                }
                result = failure.code();
            }
        }
        if (result == ERROR_SUCCESS) {
            ++index;
            continue;
        }

        log.Log(FormatText(L"Failed to apply permissions for object '%s', error 0x%08x", item.m_strObjectName.c_str(),
                           result));
        if ((item.m_dwFlags & LOCKPERM_IGNORE_FAILURE) != 0) {
            ++index;
            continue;
        }
        switch (PromptApplyError(hInstall, kApplyErrorMessage, result, item)) {
        case IDRETRY:
            break;
        case IDIGNORE:
            ++index;
            break;
        default:
            // IDABORT, no answer (0), an error (-1) or a button we did not offer.
            return false;
        }
    }
    return true;
}
