#include "Util/Arg.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

using Util::Arg;
using Util::ArgFormat;
using Util::SharedString;

TEST(Arg, PlaceholderRules)
{
    const SharedString sentence("Can't extract %1 bytes at position %2, total size %3");
    EXPECT_EQ(Arg(Arg(Arg(sentence, 4u), 8u), 10u).ToString(),
              "Can't extract 4 bytes at position 8, total size 10");
    const struct
    {
        const char *pattern, *replacement, *expected;
    } cases[] = {
        {"%2 then %1", "one", "%2 then one"}, // the smallest digit goes first, wherever it is
        {"%1-%1", "X", "X-%1"},               // among equal digits the leftmost, and only that one
        {"%12", "R", "R2"},                   // a single digit is read
        {"no placeholder", "!", "no placeholder!"},
        {"50%", "x", "50%x"}, // a trailing percent sign has no digit
        {"", "only", "only"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Arg(SharedString(c.pattern), SharedString(c.replacement)).ToString(), c.expected)
            << c.pattern;
}

TEST(Arg, NumbersInEachBase)
{
    const struct
    {
        int64_t value; // negative values go through the signed overload
        int32_t base;
        ArgFormat format;
        const char* expected;
    } cases[] = {
        {-1, 10, {}, "-1"},
        {-1, 16, {}, "FFFFFFFF"},
        {255, 2, {}, "11111111"},
        {255, 1, {}, "255"}, // bases outside 2..36 fall back to 10
        {255, 37, {}, "255"},
        {4294967295, 36, {}, "1Z141Z3"},
        {0, 2, {}, "0"},
        {-2147483648, 10, {}, "-2147483648"},
        {10, 16, {4, true}, "000A"},
        {42, 10, {5, false}, "42"},    // the width alone does not pad
        {-42, 10, {5, true}, "-0042"}, // the sign counts towards the width
    };
    const SharedString p("<%1>");
    for (const auto& c : cases)
    {
        const SharedString text = c.value < 0
                                      ? Arg(p, static_cast<int32_t>(c.value), c.base, c.format)
                                      : Arg(p, static_cast<uint32_t>(c.value), c.base, c.format);
        EXPECT_EQ(text.ToString(), std::string("<") + c.expected + ">") << c.value << " " << c.base;
    }
}
