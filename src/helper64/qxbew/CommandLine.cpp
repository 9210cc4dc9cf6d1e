#include "helper64/qxbew/CommandLine.h"

#include <objbase.h>

namespace {

constexpr size_t kGuidChars = 38; // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"

bool IsBlank(wchar_t c)
{
    return c == L' ' || c == L'\t';
}

bool ParseGuid(const std::wstring& text, GUID& guid)
{
    // IIDFromString alone would also take an empty text as the null GUID.
    if (text.size() != kGuidChars || text.front() != L'{' || text.back() != L'}') {
        return false;
    }
    return SUCCEEDED(::IIDFromString(text.c_str(), &guid));
}

} // namespace

bool ParseHelperCommandLine(const wchar_t* commandLine, HelperArguments& arguments)
{
    if (!commandLine) {
        return false;
    }
    std::wstring line(commandLine);
    size_t end = line.size();
    while (end > 0 && IsBlank(line[end - 1])) {
        --end;
    }
    size_t begin = end;
    while (begin > 0 && !IsBlank(line[begin - 1])) {
        --begin;
    }
    // The program path comes first: a line of one token has no argument.
    if (begin == 0) {
        return false;
    }
    std::wstring token = line.substr(begin, end - begin);
    if (token.size() != 2 * kGuidChars + 1 || token[kGuidChars] != L':') {
        return false;
    }
    std::wstring clsidText = token.substr(0, kGuidChars);
    std::wstring instanceText = token.substr(kGuidChars + 1);
    GUID clsid = {};
    GUID instance = {};
    if (!ParseGuid(clsidText, clsid) || !ParseGuid(instanceText, instance)) {
        return false;
    }
    arguments.clsid = clsid;
    arguments.instanceText = instanceText;
    return true;
}
