#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <regex>
#include <string>

#include "support/temp_files.h"

namespace {

const std::wstring kGuidFolder = L"\\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\}\\\\";

// The folder the helper is written into by an administrator is checked where it
// is made (tests/helper); this is the one for a user without administrator rights.
TEST(TempFiles, EachFolderIsANewGuidFolderInTheTemporaryFolder)
{
    const std::wstring temp = qx::temp_folder().str();
    const std::wstring first = qx::create_temp_folder().str();
    const std::wstring second = qx::create_temp_folder().str();
    for (const std::wstring& made : {first, second}) {
        EXPECT_EQ(0u, made.find(temp)) << made;
        EXPECT_TRUE(std::regex_match(made.substr(temp.size()), std::wregex(kGuidFolder))) << made;
        EXPECT_TRUE(std::filesystem::is_directory(made)) << made;
        std::filesystem::remove(made);
    }
    EXPECT_NE(first, second);
}

} // namespace
