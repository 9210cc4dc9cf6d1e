#include "ExplainText.h"

#include <cstdio>

namespace qxcheck {

namespace {

struct RightName {
    DWORD bits;
    const wchar_t* name;
};

// Each kind's names, the combined ones first so that they stand for their bits.
const RightName kFileRights[] = {
    {FILE_ALL_ACCESS, L"FILE_ALL_ACCESS"},
    {FILE_GENERIC_READ, L"FILE_GENERIC_READ"},
    {FILE_GENERIC_WRITE, L"FILE_GENERIC_WRITE"},
    {FILE_GENERIC_EXECUTE, L"FILE_GENERIC_EXECUTE"},
    {FILE_READ_DATA, L"FILE_READ_DATA"},
    {FILE_WRITE_DATA, L"FILE_WRITE_DATA"},
    {FILE_APPEND_DATA, L"FILE_APPEND_DATA"},
    {FILE_READ_EA, L"FILE_READ_EA"},
    {FILE_WRITE_EA, L"FILE_WRITE_EA"},
    {FILE_EXECUTE, L"FILE_EXECUTE"},
    {FILE_DELETE_CHILD, L"FILE_DELETE_CHILD"},
    {FILE_READ_ATTRIBUTES, L"FILE_READ_ATTRIBUTES"},
    {FILE_WRITE_ATTRIBUTES, L"FILE_WRITE_ATTRIBUTES"},
};
// The same bits by their names for a folder.
const RightName kFolderRights[] = {
    {FILE_ALL_ACCESS, L"FILE_ALL_ACCESS"},
    {FILE_GENERIC_READ, L"FILE_GENERIC_READ"},
    {FILE_GENERIC_WRITE, L"FILE_GENERIC_WRITE"},
    {FILE_GENERIC_EXECUTE, L"FILE_GENERIC_EXECUTE"},
    {FILE_LIST_DIRECTORY, L"FILE_LIST_DIRECTORY"},
    {FILE_ADD_FILE, L"FILE_ADD_FILE"},
    {FILE_ADD_SUBDIRECTORY, L"FILE_ADD_SUBDIRECTORY"},
    {FILE_READ_EA, L"FILE_READ_EA"},
    {FILE_WRITE_EA, L"FILE_WRITE_EA"},
    {FILE_TRAVERSE, L"FILE_TRAVERSE"},
    {FILE_DELETE_CHILD, L"FILE_DELETE_CHILD"},
    {FILE_READ_ATTRIBUTES, L"FILE_READ_ATTRIBUTES"},
    {FILE_WRITE_ATTRIBUTES, L"FILE_WRITE_ATTRIBUTES"},
};
// KEY_EXECUTE is KEY_READ by another name.
const RightName kKeyRights[] = {
    {KEY_ALL_ACCESS, L"KEY_ALL_ACCESS"},
    {KEY_READ, L"KEY_READ"},
    {KEY_WRITE, L"KEY_WRITE"},
    {KEY_QUERY_VALUE, L"KEY_QUERY_VALUE"},
    {KEY_SET_VALUE, L"KEY_SET_VALUE"},
    {KEY_CREATE_SUB_KEY, L"KEY_CREATE_SUB_KEY"},
    {KEY_ENUMERATE_SUB_KEYS, L"KEY_ENUMERATE_SUB_KEYS"},
    {KEY_NOTIFY, L"KEY_NOTIFY"},
    {KEY_CREATE_LINK, L"KEY_CREATE_LINK"},
};
const RightName kServiceRights[] = {
    {SERVICE_ALL_ACCESS, L"SERVICE_ALL_ACCESS"},
    {SERVICE_QUERY_CONFIG, L"SERVICE_QUERY_CONFIG"},
    {SERVICE_CHANGE_CONFIG, L"SERVICE_CHANGE_CONFIG"},
    {SERVICE_QUERY_STATUS, L"SERVICE_QUERY_STATUS"},
    {SERVICE_ENUMERATE_DEPENDENTS, L"SERVICE_ENUMERATE_DEPENDENTS"},
    {SERVICE_START, L"SERVICE_START"},
    {SERVICE_STOP, L"SERVICE_STOP"},
    {SERVICE_PAUSE_CONTINUE, L"SERVICE_PAUSE_CONTINUE"},
    {SERVICE_INTERROGATE, L"SERVICE_INTERROGATE"},
    {SERVICE_USER_DEFINED_CONTROL, L"SERVICE_USER_DEFINED_CONTROL"},
};
// The standard and generic rights, which every kind shares.
const RightName kCommonRights[] = {
    {DELETE, L"DELETE"},
    {READ_CONTROL, L"READ_CONTROL"},
    {WRITE_DAC, L"WRITE_DAC"},
    {WRITE_OWNER, L"WRITE_OWNER"},
    {SYNCHRONIZE, L"SYNCHRONIZE"},
    {ACCESS_SYSTEM_SECURITY, L"ACCESS_SYSTEM_SECURITY"},
    {MAXIMUM_ALLOWED, L"MAXIMUM_ALLOWED"},
    {GENERIC_ALL, L"GENERIC_ALL"},
    {GENERIC_EXECUTE, L"GENERIC_EXECUTE"},
    {GENERIC_WRITE, L"GENERIC_WRITE"},
    {GENERIC_READ, L"GENERIC_READ"},
};

std::wstring Hex(DWORD value)
{
    wchar_t text[16] = {};
    std::swprintf(text, 16, L"0x%lx", static_cast<unsigned long>(value));
    return text;
}

template <std::size_t N> void NameBits(const RightName (&names)[N], DWORD mask, DWORD& covered, std::wstring& text)
{
    for (const RightName& right : names) {
        // A name counts when the mask holds all its bits and it adds one not named yet.
        if ((mask & right.bits) == right.bits && (right.bits & ~covered) != 0) {
            text += (text.empty() ? L"" : L"|") + std::wstring(right.name);
            covered |= right.bits;
        }
    }
}

std::wstring RightsNames(LockObjectKind kind, DWORD mask)
{
    if (mask == 0) {
        return L"no rights";
    }
    std::wstring text;
    DWORD covered = 0;
    switch (kind) {
    case LockObjectKind::File:
        NameBits(kFileRights, mask, covered, text);
        break;
    case LockObjectKind::CreateFolder:
        NameBits(kFolderRights, mask, covered, text);
        break;
    case LockObjectKind::Registry:
        NameBits(kKeyRights, mask, covered, text);
        break;
    default:
        NameBits(kServiceRights, mask, covered, text);
        break;
    }
    NameBits(kCommonRights, mask, covered, text);
    if ((mask & ~covered) != 0) {
        text += (text.empty() ? L"" : L"|") + Hex(mask & ~covered);
    }
    return text;
}

const wchar_t* Noun(LockObjectKind kind)
{
    switch (kind) {
    case LockObjectKind::File:
        return L"file";
    case LockObjectKind::CreateFolder:
        return L"folder";
    case LockObjectKind::Registry:
        return L"key";
    default:
        return L"service";
    }
}

// What takes the entry, from the entry's inheritance.
std::wstring Inheritors(LockObjectKind kind, DWORD inheritance)
{
    if ((inheritance & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE)) == 0) {
        const std::wstring only = L"on this " + std::wstring(Noun(kind)) + L" only";
        return (inheritance & NO_PROPAGATE_INHERIT_ACE) != 0 ? only + L" (NP without OI or CI: nothing inherits it)"
                                                             : only;
    }
    return kind == LockObjectKind::CreateFolder ? L"on this folder, its subfolders and files"
                                                : L"on this key and its subkeys";
}

// "(A;OICI;0x1200a9;;;S-1-5-32-545)"
std::wstring EntrySddl(const ExplainedRow& row)
{
    std::wstring flags;
    const struct {
        DWORD bit;
        const wchar_t* text;
    } aceFlags[] = {{OBJECT_INHERIT_ACE, L"OI"},
                    {CONTAINER_INHERIT_ACE, L"CI"},
                    {NO_PROPAGATE_INHERIT_ACE, L"NP"},
                    {INHERIT_ONLY_ACE, L"IO"}};
    for (const auto& flag : aceFlags) {
        if ((row.inheritance & flag.bit) != 0) {
            flags += flag.text;
        }
    }
    return std::wstring(L"(") + (row.mode == DENY_ACCESS ? L"D" : L"A") + L";" + flags + L";" +
           Hex(row.item.m_dwPermission) + L";;;" + row.sid + L")";
}

std::wstring Entry(const ExplainedRow& row)
{
    std::wstring account = row.account;
    if (row.sid.empty()) {
        account += L" (resolved at install time: not found here, error " + std::to_wstring(row.accountError) + L")";
    } else {
        account += L" (" + row.sid + L")";
    }
    const std::wstring words = std::wstring(row.mode == DENY_ACCESS ? L"deny " : L"allow ") +
                               RightsNames(row.item.m_kind, row.item.m_dwPermission) + L" to " + account + L", " +
                               Inheritors(row.item.m_kind, row.inheritance);
    return row.sid.empty() ? words : EntrySddl(row) + L" " + words;
}

// The view the object is found in and the route that takes the entry there.
std::wstring Where(const ExplainedRow& row)
{
    switch (row.item.m_kind) {
    case LockObjectKind::File:
    case LockObjectKind::CreateFolder:
        return row.view == ObjectView::View64 ? L"redirection off (native view), in process"
                                              : L"native view, in process; the 32-bit library: redirected";
    case LockObjectKind::Registry:
        if (row.throughHelper) {
            return std::wstring(row.view == ObjectView::View32 ? L"32-bit" : L"64-bit") +
                   L" view, helper: not locked by the 64-bit library, which has none (the 32-bit library's helper "
                   L"locks it)";
        }
        return L"64-bit view, in process; the 32-bit library: 32-bit view";
    default:
        return L"in process";
    }
}

std::wstring ErrorCode(DWORD error)
{
    wchar_t text[16] = {};
    std::swprintf(text, 16, L"0x%08lx", static_cast<unsigned long>(error));
    return text;
}

} // namespace

std::vector<std::wstring> ExplainLines(const ExplainedRow& row)
{
    const std::wstring subject = row.subject + L": ";
    switch (row.fate) {
    case RowFate::ConditionFalse:
        return {subject + L"not applied: the condition '" + row.detail + L"' is false"};
    case RowFate::ComponentNotInstalled:
        return {subject + L"not applied: component '" + row.detail + L"' is not being installed"};
    case RowFate::CostingStops:
        return {subject + L"costing stops at this row and the installation fails: " + row.detail};
    case RowFate::NotExamined:
        return {subject + L"not examined: costing stopped at an earlier row"};
    case RowFate::Written:
        break;
    }
    std::vector<std::wstring> lines{subject + row.item.m_strObjectName.str() + L" [" + Where(row) + L"]: " +
                                    Entry(row)};
    if (!row.readCurrent) {
        return lines;
    }
    switch (row.readError) {
    case ERROR_SUCCESS:
        lines.push_back(subject + L"now " + row.now);
        if (row.mergeError != ERROR_SUCCESS) {
            lines.push_back(subject + L"after: cannot be merged, error " + ErrorCode(row.mergeError));
        } else if (!row.after.empty()) {
            lines.push_back(subject + L"after " + row.after);
        }
        break;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_SERVICE_DOES_NOT_EXIST:
        lines.push_back(subject + L"now: not on this machine");
        break;
    default:
        lines.push_back(subject + L"now: cannot be read, error " + ErrorCode(row.readError));
        break;
    }
    return lines;
}

} // namespace qxcheck
