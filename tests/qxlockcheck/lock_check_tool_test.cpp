// QXLockCheck.exe's command line, output lines and exit codes: through the tool's
// own entry, and once through the built program.
#include <gtest/gtest.h>

#include <map>

#include "CheckedPackage.h"
#include "LockCheckTool.h"
#include "support/unique_any.h"

using namespace qxtest;

namespace {

std::unique_ptr<Package> Build(const PackageBuilder& builder, const std::wstring& path = std::wstring())
{
    std::wstring error;
    auto package = path.empty() ? builder.Build(&error) : builder.Build(path, &error);
    EXPECT_TRUE(package) << std::string(error.begin(), error.end());
    return package;
}

struct ToolCase {
    const char* name;
    std::vector<std::wstring> arguments; // {clean}, {warning}, {error}, {unreadable}: the packages
    int exitCode;
    // Beginnings of the lines written, in order.
    std::vector<std::wstring> out;
    std::vector<std::wstring> err;
};

void PrintTo(const ToolCase& c, std::ostream* os)
{
    *os << c.name;
}

class LockCheckToolTest : public ::testing::TestWithParam<ToolCase> {
protected:
    static void SetUpTestSuite()
    {
        PackageParts warning;
        warning.errorMessage = false;
        PackageParts error;
        error.installAction.reset();
        s_packages[L"{clean}"] = Build(CheckedPackage(PackageParts()));
        s_packages[L"{warning}"] = Build(CheckedPackage(warning));
        s_packages[L"{error}"] = Build(CheckedPackage(error));
        // A File table without the Component_ column that every package has.
        s_packages[L"{unreadable}"] = Build(
            PackageBuilder().Columns(L"File", L"File\tFileName", L"s72\tl255", L"File").Rows(L"File", {{L"F", L"f"}}));
    }
    static void TearDownTestSuite() { s_packages.clear(); }

    // The text with each package's token replaced by its path.
    static std::wstring Substitute(std::wstring text)
    {
        for (const auto& package : s_packages) {
            for (std::size_t at; (at = text.find(package.first)) != std::wstring::npos;) {
                text.replace(at, package.first.size(), package.second->Path());
            }
        }
        return text;
    }

    static void ExpectLines(const std::vector<std::wstring>& beginnings, const std::vector<std::wstring>& lines)
    {
        std::wstring written;
        for (const std::wstring& line : lines) {
            written += line + L"\n";
        }
        ASSERT_EQ(beginnings.size(), lines.size()) << std::string(written.begin(), written.end());
        for (std::size_t i = 0; i < lines.size(); ++i) {
            EXPECT_EQ(0u, lines[i].rfind(Substitute(beginnings[i]), 0)) << std::string(written.begin(), written.end());
        }
    }

    static std::map<std::wstring, std::unique_ptr<Package>> s_packages;
};

std::map<std::wstring, std::unique_ptr<Package>> LockCheckToolTest::s_packages;

TEST_P(LockCheckToolTest, LinesAndExitCode)
{
    const ToolCase& c = GetParam();
    std::vector<std::wstring> arguments;
    for (const std::wstring& argument : c.arguments) {
        arguments.push_back(Substitute(argument));
    }
    std::vector<std::wstring> out;
    std::vector<std::wstring> err;

    const int code = qxcheck::RunLockCheck(
        arguments, [&](const std::wstring& line) { out.push_back(line); },
        [&](const std::wstring& line) { err.push_back(line); });

    EXPECT_EQ(c.exitCode, code);
    ExpectLines(c.out, out);
    ExpectLines(c.err, err);
}

const wchar_t kUsage[] = L"usage: QXLockCheck.exe [--warnings-as-errors] PACKAGE.msi...";
const wchar_t kWarningLine[] = L"{warning}: warning QXC102: Error: the Error table has no message 27555: ";
const wchar_t kErrorLine[] =
    L"{error}: error QXC010: CustomAction: no custom action is named QXLockPermissionsInstall: nothing is locked";

const ToolCase kToolCases[] = {
    {"clean package", {L"{clean}"}, 0, {L"0 errors, 0 warnings"}, {}},
    {"a warning passes", {L"{warning}"}, 0, {kWarningLine, L"0 errors, 1 warnings"}, {}},
    {"a warning fails with --warnings-as-errors",
     {L"{warning}", L"--warnings-as-errors"},
     1,
     {kWarningLine, L"0 errors, 1 warnings"},
     {}},
    {"--warnings-as-errors on a clean package",
     {L"--warnings-as-errors", L"{clean}"},
     0,
     {L"0 errors, 0 warnings"},
     {}},
    {"an error fails", {L"{error}"}, 1, {kErrorLine, L"1 errors, 0 warnings"}, {}},
    {"packages in order, one summary",
     {L"{error}", L"{clean}", L"{warning}"},
     1,
     {kErrorLine, kWarningLine, L"1 errors, 1 warnings"},
     {}},
    {"a package that cannot be opened",
     {L"{clean}", L"{clean}.missing", L"{error}"},
     2,
     {kErrorLine, L"1 errors, 0 warnings"},
     {L"{clean}.missing: cannot be read: MsiOpenDatabase failed with error "}},
    {"a package whose tables cannot be read",
     {L"{unreadable}"},
     2,
     {L"0 errors, 0 warnings"},
     {L"{unreadable}: cannot be read: "}},
    {"no package", {}, 2, {}, {L"QXLockCheck: no package given", kUsage, L"", L"", L""}},
    {"unknown option",
     {L"--strict", L"{clean}"},
     2,
     {},
     {L"QXLockCheck: unknown option --strict", kUsage, L"", L"", L""}},
    {"help", {L"--help"}, 0, {kUsage, L"", L"", L""}, {}},
};

INSTANTIATE_TEST_SUITE_P(CommandLines, LockCheckToolTest, ::testing::ValuesIn(kToolCases));

// The program itself: its exit code, and its lines in UTF-8 on standard output.
TEST(LockCheckProgram, ReportsThroughExitCodeAndStandardOutput)
{
    wchar_t path[MAX_PATH] = {};
    std::wstring folder(path, ::GetModuleFileNameW(nullptr, path, MAX_PATH));
    folder.resize(folder.find_last_of(L"\\/") + 1);
    wchar_t temp[MAX_PATH] = {};
    ASSERT_NE(0u, ::GetTempPathW(MAX_PATH, temp));
    PackageParts parts;
    parts.installAction.reset();
    // A name beyond ASCII shows that the lines are UTF-8.
    const std::wstring packagePath = std::wstring(temp) + L"qx-pr\u00fcfung.msi";
    auto package = Build(CheckedPackage(parts), packagePath);
    ASSERT_TRUE(package);

    SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
    qx::unique_handle readEnd;
    qx::unique_handle writeEnd;
    ASSERT_TRUE(::CreatePipe(readEnd.put(), writeEnd.put(), &inheritable, 0));
    ASSERT_TRUE(::SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0));
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd.get();
    startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION started{};
    std::wstring commandLine = L"\"" + folder + L"QXLockCheck.exe\" \"" + packagePath + L"\"";
    ASSERT_TRUE(
        ::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &started))
        << "error " << ::GetLastError();
    qx::unique_handle process(started.hProcess);
    qx::unique_handle thread(started.hThread);
    writeEnd.reset(); // the pipe ends when the program's end closes

    std::string output;
    char buffer[4096];
    DWORD read = 0;
    while (::ReadFile(readEnd.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) {
        output.append(buffer, read);
    }
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(process.get(), 60000));
    DWORD exitCode = 0;
    ASSERT_TRUE(::GetExitCodeProcess(process.get(), &exitCode));

    EXPECT_EQ(1u, exitCode);
    std::wstring expected = std::wstring(kErrorLine) + L"\n1 errors, 0 warnings\n";
    expected.replace(0, 7, packagePath);
    std::string utf8(
        static_cast<std::size_t>(::WideCharToMultiByte(CP_UTF8, 0, expected.c_str(), -1, nullptr, 0, nullptr, nullptr)),
        '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, expected.c_str(), -1, &utf8[0], static_cast<int>(utf8.size()), nullptr, nullptr);
    utf8.pop_back(); // the terminator
    std::string lines;
    for (char c : output) {
        if (c != '\r') { // text mode may end lines in CR LF
            lines += c;
        }
    }
    EXPECT_EQ(utf8, lines);
}

} // namespace
