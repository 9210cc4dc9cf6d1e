#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/com_exception.h"
#include "support/com_ptr.h"
#include "support/win32_exception.h"

namespace {

std::wstring system_text(DWORD code)
{
    wchar_t text[512] = {};
    ::FormatMessageW(FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, 0, text, 512, nullptr);
    return text;
}

} // namespace

TEST(Win32Exception, TakesTheLastErrorLeavesItAndGivesItsSystemText)
{
    for (DWORD code : {0u, 2u, 5u}) {
        ::SetLastError(code);
        qx::win32_exception e;
        EXPECT_EQ(::GetLastError(), code);
        EXPECT_EQ(e.code(), code);
        EXPECT_EQ(reinterpret_cast<const wchar_t*>(e.what()), code ? system_text(code) : L"") << code;
    }
}

TEST(Win32Exception, CopiesShareOneMessageFreedByTheLast)
{
    ::SetLastError(ERROR_FILE_NOT_FOUND);
    auto original = std::make_unique<qx::win32_exception>();
    auto early = std::make_unique<qx::win32_exception>(*original); // copied before the first what()
    const char* message = original->what();
    auto late = std::make_unique<qx::win32_exception>(*original);
    EXPECT_EQ(late->what(), message);
    EXPECT_EQ(early->what(), message);

    original.reset();
    early.reset();
    ASSERT_TRUE(::HeapValidate(::GetProcessHeap(), 0, message)) << "freed while a copy still holds it";
    EXPECT_EQ(reinterpret_cast<const wchar_t*>(late->what()), system_text(ERROR_FILE_NOT_FOUND));
    late.reset();
    EXPECT_FALSE(::HeapValidate(::GetProcessHeap(), 0, message)) << "not freed by the last copy";
}

TEST(ComException, TakesTheThreadsErrorInformationOnce)
{
    const GUID guid = {0x3F2504E0, 0x4F89, 0x11D3, {0x9A, 0x0C, 0x03, 0x05, 0xE8, 0x2C, 0x33, 0x01}};
    qx::com_ptr<ICreateErrorInfo> create;
    ASSERT_EQ(S_OK, ::CreateErrorInfo(create.put()));
    create->SetDescription(const_cast<LPOLESTR>(L"Lock failed"));
    create->SetSource(const_cast<LPOLESTR>(L"Qelmora.NotRegistered"));
    create->SetGUID(guid);
    qx::com_ptr<IErrorInfo> info;
    ASSERT_EQ(S_OK, create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(info.put())));
    ASSERT_EQ(S_OK, ::SetErrorInfo(0, info.get()));
    com_exception first(E_ACCESSDENIED);
    com_exception copy(first);
    for (const com_exception* e : {&first, &copy}) {
        EXPECT_EQ(e->Error(), E_ACCESSDENIED);
        EXPECT_EQ(e->Description().str(), L"Lock failed");
        EXPECT_EQ(e->Source().str(), L"Qelmora.NotRegistered");
        EXPECT_TRUE(IsEqualGUID(guid, e->Guid()));
        EXPECT_STREQ(e->what(), "Lock failed");
    }

    // Taken already: the next one falls back to the system's text, or a fixed one.
    const struct {
        HRESULT hr;
        std::wstring description;
    } fallbacks[] = {
        {E_FAIL, system_text(static_cast<DWORD>(E_FAIL))},
        {static_cast<HRESULT>(0xA0001234), L"Unknown error"},
    };
    for (const auto& c : fallbacks) {
        com_exception later(c.hr);
        ASSERT_FALSE(c.description.empty());
        EXPECT_EQ(later.Description().str(), c.description);
        EXPECT_TRUE(later.Source().empty());
        EXPECT_TRUE(IsEqualGUID(GUID{}, later.Guid()));
    }
}
