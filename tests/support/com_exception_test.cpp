#include <gtest/gtest.h>

#include <string>

#include "support/com_exception.h"
#include "support/com_holders.h"

namespace {

const GUID kZeroGuid{};
const GUID kSomeGuid = {0x3F2504E0, 0x4F89, 0x11D3, {0x9A, 0x0C, 0x03, 0x05, 0xE8, 0x2C, 0x33, 0x01}};

std::wstring SystemText(HRESULT hr)
{
    qx::local_holder<wchar_t> text;
    DWORD length = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                                        FORMAT_MESSAGE_FROM_SYSTEM,
                                    nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<LPWSTR>(text.put()), 0,
                                    nullptr);
    return length ? std::wstring(text.get(), length) : std::wstring();
}

void SetThreadError(const wchar_t* description, const wchar_t* source, const GUID& guid)
{
    qx::com_ptr<ICreateErrorInfo> create;
    ASSERT_EQ(S_OK, ::CreateErrorInfo(create.put()));
    create->SetDescription(const_cast<LPOLESTR>(description));
    create->SetSource(const_cast<LPOLESTR>(source));
    create->SetGUID(guid);
    qx::com_ptr<IErrorInfo> info;
    ASSERT_EQ(S_OK, create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(info.put())));
    ASSERT_EQ(S_OK, ::SetErrorInfo(0, info.get()));
}

} // namespace

TEST(ComException, TakesDescriptionSourceAndGuidFromErrorInformation)
{
    ASSERT_NO_FATAL_FAILURE(SetThreadError(L"Lock failed", L"Qelmora.NotRegistered", kSomeGuid));
    com_exception error(E_ACCESSDENIED);
    com_exception copy(error);

    for (const com_exception* e : {&error, &copy}) {
        EXPECT_EQ(E_ACCESSDENIED, e->Error());
        EXPECT_EQ(L"Lock failed", e->Description().str());
        EXPECT_EQ(L"Qelmora.NotRegistered", e->Source().str());
        EXPECT_TRUE(IsEqualGUID(kSomeGuid, e->Guid()));
        EXPECT_TRUE(IsEqualGUID(kZeroGuid, e->Clsid())) << "an unregistered program id has no class";
        EXPECT_STREQ("Lock failed", e->what());
    }
}

TEST(ComException, ErrorInformationIsTakenOnlyOnce)
{
    ASSERT_NO_FATAL_FAILURE(SetThreadError(L"first only", L"", kSomeGuid));
    com_exception first(E_FAIL);
    com_exception second(E_FAIL);
    EXPECT_EQ(L"first only", first.Description().str());
    EXPECT_EQ(SystemText(E_FAIL), second.Description().str());
    EXPECT_TRUE(IsEqualGUID(kZeroGuid, second.Guid()));
}

TEST(ComException, WithoutErrorInformationUsesSystemText)
{
    const struct {
        HRESULT hr;
        bool systemKnowsIt;
    } cases[] = {
        {static_cast<HRESULT>(0x80070002), true}, // file not found
        {static_cast<HRESULT>(0xA0001234), false},
    };
    for (const auto& c : cases) {
        ::SetErrorInfo(0, nullptr);
        com_exception error(c.hr);
        if (c.systemKnowsIt) {
            ASSERT_FALSE(SystemText(c.hr).empty());
            EXPECT_EQ(SystemText(c.hr), error.Description().str());
        } else {
            EXPECT_EQ(L"Unknown error", error.Description().str());
        }
        EXPECT_TRUE(error.Source().empty());
        EXPECT_TRUE(IsEqualGUID(kZeroGuid, error.Guid()));
    }
}
