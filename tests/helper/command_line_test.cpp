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
        {L"C:\\Temp\\{1}\\wac1A2B.tmp " QX_CLSID L":" QX_GUID, true},
        {L"C:\\Temp\\with space\\wac1A2B.tmp " QX_CLSID L":" QX_GUID, true},
        {L"\"C:\\Temp\\with space\\QXBEW.exe\" " QX_CLSID L":" QX_GUID, true},
        {L"QXBEW.exe\t" QX_CLSID L":" QX_GUID L"  \t", true},
        {L"QXBEW.exe " L"{efb7539b-24f3-46b6-af6e-3b021b51efef}:" QX_GUID, true},
        {QX_CLSID L":" QX_GUID, false},                                     // no program path
        {L"QXBEW.exe", false},                                               // no argument
        {L"QXBEW.exe ", false},
        {L"", false},
        {L"QXBEW.exe " QX_CLSID QX_GUID, false},                             // no colon
        {L"QXBEW.exe " QX_CLSID L";" QX_GUID, false},
        {L"QXBEW.exe " QX_CLSID L":" QX_GUID L"x", false},                   // trailing junk
        {L"QXBEW.exe " QX_CLSID L": " QX_GUID, false},                       // split in two
        {L"QXBEW.exe " QX_CLSID L":{0A1B2C3D-4E5F-4061-8273-94A5B6C7D8EZ}", false},
        {L"QXBEW.exe " QX_CLSID L":(0A1B2C3D-4E5F-4061-8273-94A5B6C7D8E9)", false},
        {L"QXBEW.exe " QX_CLSID L":" QX_GUID L" extra", false},              // the last token counts
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "line: " << testing::PrintToString(std::wstring(c.line)));
        HelperArguments arguments;
        EXPECT_EQ(c.parsed, ParseHelperCommandLine(c.line, arguments));
        if (c.parsed) {
            EXPECT_TRUE(::IsEqualCLSID(CLSID_QXBEWUtils, arguments.clsid));
            // The registration uses the text as given, which the client compares with its own.
            EXPECT_EQ(QX_GUID, arguments.instanceText);
        }
    }
    HelperArguments arguments;
    EXPECT_FALSE(ParseHelperCommandLine(nullptr, arguments));
}

} // namespace
