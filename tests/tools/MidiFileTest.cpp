#include "tools/kelvora/MidiFile.h"

#include <gtest/gtest.h>
#include <string_view>

using namespace std::string_view_literals;

namespace
{

TEST(MidiFileTest, VariableLengthQuantitiesMatchTheStandardExamples)
{
    // Four bytes are all a quantity may have; larger values are held at the largest.
    // clang-format off
    const std::pair<uint32_t, std::string_view> examples[] = {
        {0x00000000, "\x00"sv},         {0x00000040, "\x40"sv},         {0x0000007F, "\x7F"sv},
        {0x00000080, "\x81\x00"sv},     {0x00002000, "\xC0\x00"sv},     {0x00003FFF, "\xFF\x7F"sv},
        {0x00004000, "\x81\x80\x00"sv}, {0x00100000, "\xC0\x80\x00"sv}, {0x001FFFFF, "\xFF\xFF\x7F"sv},
        {0x00200000, "\x81\x80\x80\x00"sv}, {0x08000000, "\xC0\x80\x80\x00"sv},
        {0x0FFFFFFF, "\xFF\xFF\xFF\x7F"sv}, {0xFFFFFFFF, "\xFF\xFF\xFF\x7F"sv}};
    // clang-format on
    for (const auto& [value, bytes] : examples)
    {
        std::string out;
        KelvoraCli::MidiFile::AppendVariableLength(out, value);
        EXPECT_EQ(out, bytes) << std::hex << value;
    }
}

} // namespace
