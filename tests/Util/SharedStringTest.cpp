#include "Util/SharedString.h"

#include <gtest/gtest.h>

#include <string>

using Util::SharedString;

TEST(SharedString, NullIsTheEmptyStringAndCountedTextKeepsZeros)
{
    for (const SharedString& empty : {SharedString(), SharedString(""), SharedString(nullptr, 5),
                                      SharedString() + SharedString()})
    {
        EXPECT_TRUE(empty.IsNull());
        EXPECT_STREQ(empty.Data(), "");
    }
    const char bytes[] = {'a', 'b', '\0', 'c'};
    const SharedString counted(bytes, 4);
    EXPECT_EQ(counted.View(), std::string_view(bytes, 4));
    EXPECT_EQ(SharedString(bytes).Length(), 2u); // a bare pointer ends at the zero byte
    EXPECT_FALSE(counted == SharedString("ab"));

    const SharedString a("left");
    const SharedString copy = a;
    EXPECT_EQ(copy.Data(), a.Data()); // shared, not copied
    EXPECT_EQ((a + SharedString("/right")).ToString(), "left/right");
    EXPECT_EQ((SharedString() + a).ToString(), "left");
}
