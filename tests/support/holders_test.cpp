// The holder family: every alias is one unique_any, so its promises are pinned
// once, with a resource whose closing disturbs the last error the way a system
// call may; com_ptr keeps the same promise for COM references.
#include <gtest/gtest.h>

#include <windows.h>
#include <unknwn.h>

#include <utility>
#include <vector>

#include "support/com_ptr.h"
#include "support/unique_any.h"

namespace {

constexpr DWORD kSentinel = 0x2BADF00D;
std::vector<int> g_closed;

void ClobberingClose(int value) noexcept
{
    g_closed.push_back(value);
    ::SetLastError(ERROR_INVALID_HANDLE);
}

using unique_test = qx::unique_any<int, &ClobberingClose, -1>;

class ClobberingObject : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override
    {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return static_cast<ULONG>(--references);
    }
    LONG references = 1;
};

TEST(Holders, GiveBackOnceAndKeepTheLastError)
{
    g_closed.clear();
    {
        unique_test held(1);
        EXPECT_TRUE(held);
        ::SetLastError(kSentinel);
    }
    EXPECT_EQ(::GetLastError(), kSentinel) << "destruction";

    unique_test held(2);
    ::SetLastError(kSentinel);
    *held.put() = 3; // put gives back what was held first
    EXPECT_EQ(::GetLastError(), kSentinel) << "put";
    held.reset(4);
    EXPECT_EQ(::GetLastError(), kSentinel) << "reset";
    held.reset(4); // the value held is not given back to be held again

    unique_test moved(std::move(held));
    EXPECT_FALSE(held) << "a moved-from holder holds nothing";
    EXPECT_EQ(moved.get(), 4);
    EXPECT_EQ(moved.release(), 4); // handed over: not given back
    EXPECT_FALSE(moved);
    EXPECT_EQ(g_closed, (std::vector<int>{1, 2, 3}));

    ClobberingObject object;
    object.AddRef();
    {
        qx::com_ptr<IUnknown> first(&object);
        qx::com_ptr<IUnknown> second(std::move(first));
        EXPECT_FALSE(first);
        ::SetLastError(kSentinel);
    }
    EXPECT_EQ(::GetLastError(), kSentinel) << "com_ptr";
    EXPECT_EQ(object.references, 1) << "the reference was released once";
}

} // namespace
