#include <gtest/gtest.h>

#include "support/stringx.h"

TEST(Stringx, Smoke)
{
    _stringx<> s(L"Registry");
    EXPECT_TRUE(s == L"REGISTRY");
}
