#include "Util/SharedString.h"

#include <gtest/gtest.h>

#include <string>

using Util::SharedString;

TEST(SharedString, NullStandsForTheEmptyString)
{
    const SharedString none;
    EXPECT_TRUE(none.IsNull());
    EXPECT_EQ(none.Length(), 0u);
    EXPECT_STREQ(none.Data(), "");
    EXPECT_EQ(none, SharedString(""));
    EXPECT_TRUE(SharedString(static_cast<const char*>(nullptr)).IsNull());
    EXPECT_TRUE(SharedString(nullptr, 5).IsNull());
    EXPECT_TRUE(SharedString(std::string()).IsNull());
}

TEST(SharedString, KeepsEmbeddedZerosWhenGivenALength)
{
    const char bytes[] = {'a', 'b', '\0', 'c'};
    const SharedString counted(bytes, 4);
    EXPECT_EQ(counted.Length(), 4u);
    EXPECT_EQ(counted.View(), std::string_view(bytes, 4));
    EXPECT_EQ(SharedString(bytes).Length(), 2u); // a bare pointer ends at the zero byte
    EXPECT_FALSE(counted == SharedString("ab"));
}

TEST(SharedString, CopiesShareTheTextAndJoinConcatenates)
{
    const SharedString a("left");
    const SharedString copy = a;
    EXPECT_EQ(copy.Data(), a.Data());

    EXPECT_EQ((a + SharedString("/right")).ToString(), "left/right");
    EXPECT_EQ((SharedString() + a).ToString(), "left");
    EXPECT_EQ((a + SharedString()).ToString(), "left");
    EXPECT_TRUE((SharedString() + SharedString()).IsNull());
    EXPECT_EQ(a.ToString(), "left");
}
