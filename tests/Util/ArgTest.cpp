#include "Util/Arg.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

using Util::Arg;
using Util::ArgFormat;
using Util::SharedString;

namespace
{

std::string Text(const SharedString& s)
{
    return s.ToString();
}

} // namespace

TEST(Arg, FillsPlaceholdersInNumericOrder)
{
    SharedString message("Can't extract %1 bytes at position %2, total size %3");
    message = Arg(Arg(Arg(message, 4u), 8u), 10u);
    EXPECT_EQ(Text(message), "Can't extract 4 bytes at position 8, total size 10");

    // Placeholder 1 is filled first even when placeholder 2 stands before it.
    EXPECT_EQ(Text(Arg(SharedString("%2 then %1"), SharedString("one"))), "%2 then one");
    EXPECT_EQ(Text(Arg(Arg(SharedString("%2 then %1"), SharedString("one")), SharedString("two"))),
              "two then one");

    // %0 is the smallest digit; among equal digits the leftmost goes first.
    EXPECT_EQ(Text(Arg(SharedString("a%1b%0c"), SharedString("X"))), "a%1bXc");
    EXPECT_EQ(Text(Arg(SharedString("%1-%1"), SharedString("X"))), "X-%1");
}

TEST(Arg, ReadsASingleDigitAndAppendsWithoutPlaceholder)
{
    EXPECT_EQ(Text(Arg(SharedString("%12"), SharedString("R"))), "R2");
    EXPECT_EQ(Text(Arg(SharedString("no placeholder"), SharedString("!"))), "no placeholder!");
    // A trailing percent sign has no digit after it; a percent sign before a percent is skipped.
    EXPECT_EQ(Text(Arg(SharedString("50%"), SharedString("x"))), "50%x");
    EXPECT_EQ(Text(Arg(SharedString("%"), SharedString("x"))), "%x");
    EXPECT_EQ(Text(Arg(SharedString("%%1"), SharedString("x"))), "%x");
    EXPECT_EQ(Text(Arg(SharedString("%a%1"), SharedString("x"))), "%ax");
}

TEST(Arg, EmptyTemplateOrReplacement)
{
    EXPECT_EQ(Text(Arg(SharedString(), SharedString("only"))), "only");
    EXPECT_EQ(Text(Arg(SharedString(""), SharedString("only"))), "only");
    EXPECT_TRUE(Arg(SharedString(), SharedString()).IsNull());
    EXPECT_EQ(Text(Arg(SharedString("[%1]"), SharedString())), "[]");

    const SharedString pattern("keep %1");
    Arg(pattern, SharedString("x"));
    EXPECT_EQ(Text(pattern), "keep %1");
}

TEST(Arg, NumberBases)
{
    const SharedString p("%1");
    EXPECT_EQ(Text(Arg(p, int32_t(-1), 10)), "-1");
    EXPECT_EQ(Text(Arg(p, int32_t(-1), 16)), "FFFFFFFF");
    EXPECT_EQ(Text(Arg(p, uint32_t(255), 2)), "11111111");
    EXPECT_EQ(Text(Arg(p, uint32_t(255), 1)), "255");
    EXPECT_EQ(Text(Arg(p, uint32_t(255), 37)), "255");
    EXPECT_EQ(Text(Arg(p, uint32_t(255), -16)), "255");
    EXPECT_EQ(Text(Arg(p, int32_t(-255), 0)), "-255");
    EXPECT_EQ(Text(Arg(p, uint32_t(4294967295u), 36)), "1Z141Z3");
    EXPECT_EQ(Text(Arg(p, uint32_t(123456789u), 7)), "3026236221");
    EXPECT_EQ(Text(Arg(p, uint32_t(0), 2)), "0");
    EXPECT_EQ(Text(Arg(p, int32_t(0))), "0");
    EXPECT_EQ(Text(Arg(p, int32_t(-2147483647 - 1))), "-2147483648");
    EXPECT_EQ(Text(Arg(p, int32_t(-2147483647 - 1), 16)), "80000000");
    EXPECT_EQ(Text(Arg(p, int32_t(-2), 2)), "-10");
    EXPECT_EQ(Text(Arg(p, int32_t(2147483647))), "2147483647");
}

TEST(Arg, ZeroPadding)
{
    const SharedString p("<%1>");
    EXPECT_EQ(Text(Arg(p, uint32_t(42), 10, ArgFormat{5, true})), "<00042>");
    EXPECT_EQ(Text(Arg(p, uint32_t(10), 16, ArgFormat{4, true})), "<000A>");
    EXPECT_EQ(Text(Arg(p, uint32_t(12345), 10, ArgFormat{2, true})), "<12345>");
    // The width alone does not pad.
    EXPECT_EQ(Text(Arg(p, uint32_t(42), 10, ArgFormat{5, false})), "<42>");
    // The sign counts towards the width and the zeros follow it.
    EXPECT_EQ(Text(Arg(p, int32_t(-42), 10, ArgFormat{5, true})), "<-0042>");
    EXPECT_EQ(Text(Arg(p, int32_t(-1), 16, ArgFormat{10, true})), "<00FFFFFFFF>");
}
