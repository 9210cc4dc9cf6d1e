// QXLockCheck.exe: checks installation packages that use the QXLockPermissions
// library before they ship (LockCheckTool.h has the command line).
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "LockCheckTool.h"

namespace {

// Lines in UTF-8, whatever the console's code page: findings quote names in any script.
qxcheck::LineWriter LinesTo(FILE* stream, bool& failed)
{
    return [stream, &failed](const std::wstring& line) {
        const std::wstring text = line + L"\n";
        const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                               nullptr, nullptr);
        std::string utf8(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
        if (size <= 0 ||
            ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &utf8[0], size, nullptr,
                                  nullptr) != size ||
            std::fwrite(utf8.data(), 1, utf8.size(), stream) != utf8.size()) {
            failed = true;
        }
    };
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    bool outFailed = false;
    bool errFailed = false;
    const std::vector<std::wstring> arguments(argv + 1, argv + argc);
    int code = qxcheck::RunLockCheck(arguments, LinesTo(stdout, outFailed), LinesTo(stderr, errFailed));
    if (std::fflush(stdout) != 0 || outFailed) {
        // A report that did not reach its reader cannot pass for a clean one.
        std::fputs("QXLockCheck: the findings could not be written\n", stderr);
        code = qxcheck::kExitUnusable;
    }
    return code;
}
