#include "Util/Arg.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>

using Util::Arg;
using Util::SharedString;

// The smallest digit is replaced first wherever it is (of equal ones the leftmost); one digit is
// read; without a placeholder (a trailing percent sign has no digit) the text is appended.
TEST(Arg, PlaceholdersAndNumbers)
{
    const SharedString sentence("Can't extract %1 bytes at position %2, total size %3");
    EXPECT_EQ(Arg(Arg(Arg(sentence, 4u), 8u), 10u).ToString(),
              "Can't extract 4 bytes at position 8, total size 10");
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"%2 then %1", "one", "%2 then one"},       {"%1-%1", "X", "X-%1"}, {"%12", "R", "R2"},
        {"no placeholder", "!", "no placeholder!"}, {"50%", "x", "50%x"},   {"", "only", "only"},
    };
    for (const auto& [pattern, replacement, expected] : cases)
        EXPECT_EQ(Arg(SharedString(pattern), SharedString(replacement)).ToString(), expected);

    // value, base, width, zero padding -> text. Negative values take the signed overload; bases
    // outside 2..36 fall back to 10; the width alone does not pad, and the sign counts towards it.
    const std::tuple<int64_t, int32_t, uint32_t, bool, const char*> numbers[] = {
        {-1, 10, 0, false, "-1"},       {-1, 16, 0, false, "FFFFFFFF"},
        {255, 2, 0, false, "11111111"}, {255, 1, 0, false, "255"},
        {255, 37, 0, false, "255"},     {4294967295, 36, 0, false, "1Z141Z3"},
        {0, 2, 0, false, "0"},          {-2147483648, 10, 0, false, "-2147483648"},
        {10, 16, 4, true, "000A"},      {42, 10, 5, false, "42"},
        {-42, 10, 5, true, "-0042"},
    };
    const SharedString p("<%1>");
    for (const auto& [value, base, width, zeroPad, text] : numbers)
    {
        const Util::ArgFormat format{width, zeroPad};
        const SharedString out = value < 0 ? Arg(p, static_cast<int32_t>(value), base, format)
                                           : Arg(p, static_cast<uint32_t>(value), base, format);
        EXPECT_EQ(out.ToString(), std::string("<") + text + ">") << value << " " << base;
    }
}
