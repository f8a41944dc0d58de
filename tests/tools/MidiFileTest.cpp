#include "tools/kelvora/MidiFile.h"

#include <cmath>
#include <gtest/gtest.h>
#include <string_view>
#include <tuple>

using KelvoraCli::MidiFile;
using namespace std::string_view_literals;

namespace
{

std::string Bytes(std::initializer_list<int> values)
{
    std::string out;
    for (const int v : values)
        out += static_cast<char>(v);
    return out;
}

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
        MidiFile::AppendVariableLength(out, value);
        EXPECT_EQ(out, bytes) << std::hex << value;
    }
}

TEST(MidiFileTest, TempoIsMicrosecondsPerQuarterNote)
{
    // 90 BPM is 666 666.67 us, rounded; 120 eighths or 60 halves a minute are 60 and 120
    // quarters; three bytes hold at most 16 777 215 us, about 3.6 BPM; tempos that mean nothing
    // fall back to the file format's own default of 120.
    // clang-format off
    const std::tuple<double, int, uint32_t> cases[] = {
        {120.0, 4, 500000}, {240.0, 4, 250000}, {90.0, 4, 666667}, {120.0, 8, 1000000},
        {60.0, 2, 500000}, {1.0, 4, 16777215}, {0.0, 4, 500000}, {-5.0, 4, 500000},
        {std::nan(""), 4, 500000}};
    // clang-format on
    for (const auto& [bpm, beatUnit, microseconds] : cases)
        EXPECT_EQ(MidiFile::MicrosecondsPerQuarter(bpm, beatUnit), microseconds) << bpm;
}

TEST(MidiFileTest, FormatOneFileIsByteExact)
{
    MidiFile midi(480);
    const size_t conductor = midi.AddTrack("A");
    const size_t notes = midi.AddTrack("");
    midi.AddTempo(conductor, 0, 500000);
    midi.AddTimeSignature(conductor, 0, 3, 4);
    // Two notes of the same key back to back: the first must end before the second starts.
    midi.AddNote(notes, 0, 60, 100, 0, 480);
    midi.AddNote(notes, 0, 60, 90, 480, 960);

    const std::string expected = Bytes({'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 2, 0x01, 0xE0}) +
                                 Bytes({'M', 'T', 'r', 'k', 0, 0, 0, 24}) +
                                 Bytes({0x00, 0xFF, 0x03, 0x01, 'A'}) +              // track name
                                 Bytes({0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20}) + // 500 000 us
                                 Bytes({0x00, 0xFF, 0x58, 0x04, 0x03, 0x02, 0x18, 0x08}) + // 3/4
                                 Bytes({0x00, 0xFF, 0x2F, 0x00}) + // end of track
                                 Bytes({'M', 'T', 'r', 'k', 0, 0, 0, 22}) +
                                 Bytes({0x00, 0x90, 60, 100}) +      // note on at 0
                                 Bytes({0x83, 0x60, 0x80, 60, 64}) + // 480 ticks later: off first,
                                 Bytes({0x00, 0x90, 60, 90}) +       // then on again
                                 Bytes({0x83, 0x60, 0x80, 60, 64}) + // off at 960
                                 Bytes({0x00, 0xFF, 0x2F, 0x00});
    EXPECT_EQ(midi.Serialise(1), expected);
}

} // namespace
