#include "apply/ApplyDriver.h"

#include <algorithm>
#include <string>
#include <unordered_map>

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

enum class Outcome { Done, LetGo, Stop };

// Runs a step for the item until it succeeds, is let go (by letGo, without
// asking, or by the user) or the user stops; each failure is logged first.
template <class Step>
Outcome Attempt(MSIHANDLE hInstall, qx::log_sink& log, const PermissionsItem& item, bool letGo, const Step& step)
{
    for (;;) {
        DWORD result = ERROR_SUCCESS;
        try {
            step();
        } catch (const qx::error& failure) {
            if (!failure.message().empty()) {
                log.Log(failure.message());
            }
            result = failure.code();
        }
        if (result == ERROR_SUCCESS) {
            return Outcome::Done;
        }
        log.Log(FormatText(L"Failed to apply permissions for object '%s', error 0x%08x", item.m_strObjectName.c_str(),
                           result));
        if (letGo) {
            return Outcome::LetGo;
        }
        switch (PromptApplyError(hInstall, kApplyErrorMessage, result, item)) {
        case IDRETRY:
            break;
        case IDIGNORE:
            return Outcome::LetGo;
        default:
            // IDABORT, no answer (0), an error (-1) or a button we did not offer.
            return Outcome::Stop;
        }
    }
}

bool IgnoresFailure(const PermissionsItem& item)
{
    return (item.m_dwFlags & LOCKPERM_IGNORE_FAILURE) != 0;
}

// The items' indexes grouped by object, each group's rows in their order.
std::vector<std::vector<std::size_t>> GroupByObject(const std::vector<PermissionsItem>& items,
                                                    const _stringx<>& systemDirectory)
{
    std::vector<std::vector<std::size_t>> groups;
    std::unordered_map<std::wstring, std::size_t> groupOfObject;
    for (std::size_t index = 0; index < items.size(); ++index) {
        const PermissionsItem& item = items[index];
        if (AppliesThroughHelper(item)) {
            groups.push_back({index});
            continue;
        }
        const std::wstring object = FormatText(L"%d|%u|", static_cast<int>(item.m_objectType),
                                               static_cast<unsigned>(RouteViewOf(item, systemDirectory)))
                                        .str() +
                                    item.m_strObjectName.str();
        const auto found = groupOfObject.emplace(object, groups.size());
        if (found.second) {
            groups.emplace_back();
        }
        groups[found.first->second].push_back(index);
    }
    return groups;
}

} // namespace

bool ApplyPermissionsItems(MSIHANDLE hInstall, qx::log_sink& log, const std::vector<PermissionsItem>& items,
                           const _stringx<>& systemDirectory, const ApplySteps& steps)
{
    for (const std::vector<std::size_t>& group : GroupByObject(items, systemDirectory)) {
        std::vector<PreparedRow> rows;
        for (const std::size_t index : group) {
            const PermissionsItem& item = items[index];
            PreparedRow row;
            row.item = &item;
            const Outcome outcome = Attempt(hInstall, log, item, IgnoresFailure(item), [&] {
                if (HasRelativeFileName(item)) {
                    throw qx::error(ERROR_INVALID_NAME, _stringx<>()); // before any call that would resolve it
                }
                steps.prepareRow(row);
            });
            if (outcome == Outcome::Stop) {
                return false;
            }
            if (outcome == Outcome::Done) {
                rows.push_back(std::move(row));
            }
        }
        if (rows.empty()) {
            continue;
        }
        // The object's failure is let go without asking only when every row says so.
        const PermissionsItem& object = *rows.front().item;
        const bool letGo =
            std::all_of(rows.begin(), rows.end(), [](const PreparedRow& row) { return IgnoresFailure(*row.item); });
        const Outcome outcome = Attempt(hInstall, log, object, letGo, [&] {
            RedirectionOff redirection(AppliesWithoutRedirection(object, systemDirectory));
            steps.applyObject(rows);
        });
        if (outcome == Outcome::Stop) {
            return false;
        }
    }
    return true;
}
