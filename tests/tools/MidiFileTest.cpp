#include "tools/kelvora/MidiFile.h"

#include <cmath>
#include <gtest/gtest.h>

using KelvoraCli::MidiFile;

namespace
{

std::string Bytes(std::initializer_list<int> values)
{
    std::string out;
    for (const int v : values)
        out += static_cast<char>(v);
    return out;
}

std::string Quantity(uint32_t value)
{
    std::string out;
    MidiFile::AppendVariableLength(out, value);
    return out;
}

TEST(MidiFileTest, VariableLengthQuantitiesMatchTheStandardExamples)
{
    EXPECT_EQ(Quantity(0x00000000), Bytes({0x00}));
    EXPECT_EQ(Quantity(0x00000040), Bytes({0x40}));
    EXPECT_EQ(Quantity(0x0000007F), Bytes({0x7F}));
    EXPECT_EQ(Quantity(0x00000080), Bytes({0x81, 0x00}));
    EXPECT_EQ(Quantity(0x00002000), Bytes({0xC0, 0x00}));
    EXPECT_EQ(Quantity(0x00003FFF), Bytes({0xFF, 0x7F}));
    EXPECT_EQ(Quantity(0x00004000), Bytes({0x81, 0x80, 0x00}));
    EXPECT_EQ(Quantity(0x00100000), Bytes({0xC0, 0x80, 0x00}));
    EXPECT_EQ(Quantity(0x001FFFFF), Bytes({0xFF, 0xFF, 0x7F}));
    EXPECT_EQ(Quantity(0x00200000), Bytes({0x81, 0x80, 0x80, 0x00}));
    EXPECT_EQ(Quantity(0x08000000), Bytes({0xC0, 0x80, 0x80, 0x00}));
    EXPECT_EQ(Quantity(0x0FFFFFFF), Bytes({0xFF, 0xFF, 0xFF, 0x7F}));
    // Four bytes are all a quantity may have; larger values are held at the largest.
    EXPECT_EQ(Quantity(0xFFFFFFFF), Bytes({0xFF, 0xFF, 0xFF, 0x7F}));
}

TEST(MidiFileTest, TempoIsMicrosecondsPerQuarterNote)
{
    EXPECT_EQ(MidiFile::MicrosecondsPerQuarter(120.0, 4), 500000u);
    EXPECT_EQ(MidiFile::MicrosecondsPerQuarter(240.0, 4), 250000u);
    EXPECT_EQ(MidiFile::MicrosecondsPerQuarter(90.0, 4), 666667u); // 666 666.67 rounded
    // 120 eighth notes a minute are 60 quarter notes: a second each.
    EXPECT_EQ(MidiFile::MicrosecondsPerQuarter(120.0, 8), 1000000u);
    // 60 half notes a minute are 120 quarters.
    EXPECT_EQ(MidiFile::MicrosecondsPerQuarter(60.0, 2), 500000u);
    // Three bytes hold at most 16 777 215 microseconds (a tempo of about 3.6 BPM).
    EXPECT_EQ(MidiFile::MicrosecondsPerQuarter(1.0, 4), 16777215u);
    // Tempos that mean nothing fall back to the file format's own default of 120.
    EXPECT_EQ(MidiFile::MicrosecondsPerQuarter(0.0, 4), 500000u);
    EXPECT_EQ(MidiFile::MicrosecondsPerQuarter(-5.0, 4), 500000u);
    EXPECT_EQ(MidiFile::MicrosecondsPerQuarter(std::nan(""), 4), 500000u);
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

TEST(MidiFileTest, FormatZeroMergesEveryTrackIntoOne)
{
    MidiFile midi(96);
    const size_t conductor = midi.AddTrack("");
    const size_t notes = midi.AddTrack("ignored");
    midi.AddNote(notes, 1, 36, 127, 10, 10); // a zero-length note still lasts a tick
    midi.AddTempo(conductor, 0, 250000);

    const std::string expected = Bytes({'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x00, 0x60}) +
                                 Bytes({'M', 'T', 'r', 'k', 0, 0, 0, 19}) +
                                 Bytes({0x00, 0xFF, 0x51, 0x03, 0x03, 0xD0, 0x90}) + // 250 000 us
                                 Bytes({0x0A, 0x91, 36, 127}) + // channel 2 on at tick 10
                                 Bytes({0x01, 0x81, 36, 64}) +  // off at 11
                                 Bytes({0x00, 0xFF, 0x2F, 0x00});
    EXPECT_EQ(midi.Serialise(0), expected);
}

} // namespace
