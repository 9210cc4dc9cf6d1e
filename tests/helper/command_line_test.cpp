#include <gtest/gtest.h>

#include "helper64/QXBEWUtils.h"
#include "helper64/qxbew/CommandLine.h"

namespace {

#define QX_CLSID L"{EFB7539B-24F3-46B6-AF6E-3B021B51EFEF}"
#define QX_GUID L"{0A1B2C3D-4E5F-4061-8273-94A5B6C7D8E9}"

TEST(HelperCommandLine, TakesTheLastTokenWhateverThePathLooksLike)
{
    struct Case {
        const wchar_t* line;
        bool parsed;
    } cases[] = {
        {L"C:\\Temp\\with space\\wac1A2B.tmp " QX_CLSID L":" QX_GUID, true},
        {L"\"C:\\Temp\\with space\\QXBEW.exe\" " QX_CLSID L":" QX_GUID, true},
        {L"QXBEW.exe\t{efb7539b-24f3-46b6-af6e-3b021b51efef}:" QX_GUID L"  \t", true},
        {QX_CLSID L":" QX_GUID, false}, // no program path
        {L"QXBEW.exe " QX_CLSID L":" QX_GUID L"x", false},
        {L"QXBEW.exe " QX_CLSID L": " QX_GUID, false}, // split in two
        {L"QXBEW.exe " QX_CLSID L":(0A1B2C3D-4E5F-4061-8273-94A5B6C7D8E9)", false},
        {L"QXBEW.exe " QX_CLSID L":" QX_GUID L" extra", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.line)));
        HelperArguments arguments;
        EXPECT_EQ(c.parsed, ParseHelperCommandLine(c.line, arguments));
        if (c.parsed) {
            EXPECT_TRUE(::IsEqualCLSID(CLSID_QXBEWUtils, arguments.clsid));
            // Registered under the text as given, which the client compares with its own.
            EXPECT_EQ(QX_GUID, arguments.instanceText);
        }
    }
}

} // namespace
