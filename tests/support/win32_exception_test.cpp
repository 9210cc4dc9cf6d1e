#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/win32_exception.h"

namespace {

const wchar_t* message_of(const qx::win32_exception& e)
{
    return reinterpret_cast<const wchar_t*>(e.what());
}

std::unique_ptr<qx::win32_exception> raise_code(DWORD code)
{
    ::SetLastError(code);
    return std::make_unique<qx::win32_exception>();
}

std::wstring system_message(DWORD code)
{
    wchar_t text[512] = {};
    ::FormatMessageW(FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, 0, text, 512, nullptr);
    return text;
}

// Whether the block is still a live allocation of the process heap.
bool is_live(const void* block)
{
    return ::HeapValidate(::GetProcessHeap(), 0, block) != FALSE;
}

} // namespace

TEST(Win32Exception, TakesTheLastErrorAndLeavesIt)
{
    auto e = raise_code(ERROR_ACCESS_DENIED);
    EXPECT_EQ(e->code(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST(Win32Exception, CodeZeroHasAnEmptyMessage)
{
    auto e = raise_code(0);
    EXPECT_STREQ(message_of(*e), L"");
    EXPECT_STREQ(e->what(), "");
}

TEST(Win32Exception, MessageIsTheSystemText)
{
    for (DWORD code : {2u, 5u, 87u}) {
        auto e = raise_code(code);
        std::wstring expected = system_message(code);
        ASSERT_FALSE(expected.empty()) << code;
        EXPECT_EQ(std::wstring(message_of(*e)), expected) << code;
        EXPECT_EQ(message_of(*e), message_of(*e)) << "formatted once";
    }
}

TEST(Win32Exception, CopiesShareOneMessageFreedByTheLast)
{
    // Copies made before and after the first what(): all end up with one text.
    auto original = raise_code(ERROR_FILE_NOT_FOUND);
    auto early = std::make_unique<qx::win32_exception>(*original);
    const wchar_t* message = message_of(*original);
    auto late = std::make_unique<qx::win32_exception>(*original);
    EXPECT_EQ(message_of(*late), message);
    EXPECT_EQ(message_of(*early), message);
    EXPECT_EQ(late->code(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    original.reset();
    early.reset();
    ASSERT_TRUE(is_live(message)) << "freed while a copy still holds it";
    EXPECT_EQ(std::wstring(message_of(*late)), system_message(ERROR_FILE_NOT_FOUND));
    late.reset();
    EXPECT_FALSE(is_live(message)) << "not freed by the last copy";
}
