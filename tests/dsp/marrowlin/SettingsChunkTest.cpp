#include "dsp/marrowlin/SettingsChunk.h"
#include "dsp/marrowlin/Loop.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <tuple>
#include <vector>

using namespace DSP::Marrowlin;

namespace
{

using Bytes = std::vector<uint8_t>;

// Independent little-endian decoding of the chunk's fields.
uint32_t U32At(const Bytes& b, std::size_t offset)
{
    return uint32_t(b[offset]) | uint32_t(b[offset + 1]) << 8 | uint32_t(b[offset + 2]) << 16 |
           uint32_t(b[offset + 3]) << 24;
}

float F32At(const Bytes& b, std::size_t offset)
{
    const uint32_t bits = U32At(b, offset);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

void PutU32(Bytes& b, std::size_t offset, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        b[offset + i] = uint8_t(value >> (8 * i));
}

SlicePoint Point(uint32_t kind, uint32_t position, float strength, uint8_t forceOn = 0,
                 uint8_t conditional = 0, uint8_t forceOff = 0)
{
    SlicePoint p;
    p.kind = kind;
    p.sourcePosition = position + 7;
    p.position = position;
    p.forceOn = forceOn;
    p.conditional = conditional;
    p.forceOff = forceOff;
    p.strength = strength;
    return p;
}

struct Settings
{
    SlicePoints slicePoints;
    MeterSettings meter;
    ShapingSettings shaping;
};

// Non-default values in every stored field.
Settings Sample()
{
    Settings s;
    s.slicePoints.sensitivity = 0.5f;
    s.slicePoints.useMarkers = 1;
    s.slicePoints.useDetected = 0;
    s.slicePoints.useUser = 1;
    s.slicePoints.points = {Point(Marker, 1000, 0.75f, 1, 0, 0),
                            Point(Detected, 22050, 0.125f, 0, 1, 1)};
    s.slicePoints.regionStart = 16;
    s.slicePoints.regionEnd = 88200;
    s.meter.bars = 3;
    s.meter.extraBeats = 1;
    s.meter.beatsPerBar = 7;
    s.meter.beatUnit = 8;
    s.meter.tempo = 120.0f;
    s.meter.meterFlag = 1;
    s.shaping.attackMs = 1.5f;
    s.shaping.holdMs = 20.0f;
    s.shaping.decayMs = 300.0f;
    s.shaping.tailExtension = 0.25f;
    s.shaping.tailLoopPosition = 0.625f;
    s.shaping.tailFromSoundEnd = 0;
    s.shaping.semitones = -12.0f;
    s.shaping.cents = 33.0f;
    s.shaping.gainDb = -6.0f;
    return s;
}

Bytes Write(const Settings& s)
{
    Bytes out = {0xDE, 0xAD}; // replaced, not appended to
    WriteSettingsChunk(s.slicePoints, s.meter, s.shaping, out);
    return out;
}

// Every field, stored or not, so that "untouched" can be checked completely.
auto Fields(const SlicePoint& p)
{
    return std::tie(p.kind, p.sourcePosition, p.position, p.outputPosition, p.tickPosition,
                    p.forceOn, p.conditional, p.forceOff, p.lockedOn, p.deleted, p.strength);
}

void ExpectSame(const Settings& a, const Settings& b)
{
    const SlicePoints& x = a.slicePoints;
    const SlicePoints& y = b.slicePoints;
    EXPECT_TRUE(std::tie(x.sensitivity, x.useMarkers, x.useDetected, x.useUser, x.regionStart,
                         x.regionEnd) == std::tie(y.sensitivity, y.useMarkers, y.useDetected,
                                                  y.useUser, y.regionStart, y.regionEnd));
    ASSERT_EQ(x.points.size(), y.points.size());
    for (std::size_t i = 0; i < x.points.size(); ++i)
        EXPECT_TRUE(Fields(x.points[i]) == Fields(y.points[i])) << "point " << i;
    const MeterSettings& m = a.meter;
    const MeterSettings& n = b.meter;
    EXPECT_TRUE(std::tie(m.bars, m.extraBeats, m.beatsPerBar, m.beatUnit, m.tempo, m.fixedTempo,
                         m.ticksPerBeat, m.meterFlag) ==
                std::tie(n.bars, n.extraBeats, n.beatsPerBar, n.beatUnit, n.tempo, n.fixedTempo,
                         n.ticksPerBeat, n.meterFlag));
    const ShapingSettings& s = a.shaping;
    const ShapingSettings& t = b.shaping;
    EXPECT_TRUE(std::tie(s.attackMs, s.holdMs, s.decayMs, s.sustainLevel, s.tailExtension,
                         s.tailLoopPosition, s.tailFromSoundEnd, s.semitones, s.cents, s.gainDb) ==
                std::tie(t.attackMs, t.holdMs, t.decayMs, t.sustainLevel, t.tailExtension,
                         t.tailLoopPosition, t.tailFromSoundEnd, t.semitones, t.cents, t.gainDb));
}

bool Read(const Bytes& bytes, Settings& s)
{
    return ReadSettingsChunk(bytes, s.slicePoints, s.meter, s.shaping);
}

} // namespace

TEST(SettingsChunk, EmptySettingsMake85Bytes)
{
    const Bytes chunk = Write(Settings{});
    ASSERT_EQ(chunk.size(), 85u);
    EXPECT_EQ(Bytes(chunk.begin(), chunk.begin() + 12),
              Bytes({0x59, 0x43, 0x6C, 0x01, 1, 0, 0, 0, 77, 0, 0, 0}));
    EXPECT_EQ(U32At(chunk, 19), 0u); // no points
    EXPECT_EQ(U32At(chunk, 31), 2u); // bars
    EXPECT_EQ(U32At(chunk, 39), 4u); // beatsPerBar
    EXPECT_EQ(U32At(chunk, 43), 4u); // beatUnit
    EXPECT_EQ(chunk[71], 1);         // tailFromSoundEnd
    EXPECT_EQ(chunk[84], 0);         // meterFlag

    Settings back = Sample();
    ASSERT_TRUE(Read(chunk, back));
    Settings expected;
    expected.shaping.sustainLevel = Sample().shaping.sustainLevel;
    ExpectSame(back, expected);
}

TEST(SettingsChunk, FieldsSitAtTheirOffsets)
{
    const Settings s = Sample();
    const Bytes chunk = Write(s);
    const std::size_t n19 = 19 * 2;
    ASSERT_EQ(chunk.size(), 85u + n19);
    EXPECT_EQ(U32At(chunk, 8), 77u + n19);
    EXPECT_EQ(Bytes(chunk.begin() + 12, chunk.begin() + 19), Bytes({0, 0, 0, 0x3F, 1, 0, 1}));
    EXPECT_EQ(U32At(chunk, 19), 2u);
    // Second point record at 23 + 19.
    EXPECT_EQ(U32At(chunk, 42), uint32_t(Detected));
    EXPECT_EQ(U32At(chunk, 46), 22057u);
    EXPECT_EQ(U32At(chunk, 50), 22050u);
    EXPECT_EQ(Bytes(chunk.begin() + 54, chunk.begin() + 57), Bytes({0, 1, 1}));
    EXPECT_EQ(F32At(chunk, 57), 0.125f);
    EXPECT_EQ(U32At(chunk, 23 + n19), 16u);
    EXPECT_EQ(U32At(chunk, 27 + n19), 88200u);
    EXPECT_EQ(U32At(chunk, 31 + n19), 3u);
    EXPECT_EQ(U32At(chunk, 35 + n19), 1u);
    EXPECT_EQ(U32At(chunk, 39 + n19), 7u);
    EXPECT_EQ(U32At(chunk, 43 + n19), 8u);
    EXPECT_EQ(Bytes(chunk.begin() + 47 + n19, chunk.begin() + 51 + n19),
              Bytes({0, 0, 0xF0, 0x42})); // 120.0f
    EXPECT_EQ(F32At(chunk, 51 + n19), 1.5f);
    EXPECT_EQ(F32At(chunk, 67 + n19), 0.625f);
    EXPECT_EQ(chunk[71 + n19], 0);
    EXPECT_EQ(F32At(chunk, 72 + n19), -12.0f);
    EXPECT_EQ(F32At(chunk, 80 + n19), -6.0f);
    EXPECT_EQ(chunk[84 + n19], 1);
}

TEST(SettingsChunk, RoundTripRestoresStoredFieldsAndKeepsTheOthers)
{
    const Settings s = Sample();
    Settings target;
    target.meter.fixedTempo = 99.0f;
    target.meter.ticksPerBeat = 480;
    target.shaping.sustainLevel = 0.3f;
    // Three existing points: two are overwritten (keeping their unstored fields), one dropped.
    target.slicePoints.points.resize(3);
    target.slicePoints.points[0].tickPosition = 192.0f;
    target.slicePoints.points[0].lockedOn = 1;
    target.slicePoints.points[1].deleted = 1;
    target.slicePoints.points[1].outputPosition = 555;

    ASSERT_TRUE(Read(Write(s), target));

    Settings expected = s;
    expected.meter.fixedTempo = 99.0f;
    expected.meter.ticksPerBeat = 480;
    expected.shaping.sustainLevel = 0.3f;
    expected.slicePoints.points[0].tickPosition = 192.0f;
    expected.slicePoints.points[0].lockedOn = 1;
    expected.slicePoints.points[1].deleted = 1;
    expected.slicePoints.points[1].outputPosition = 555;
    ExpectSame(target, expected);
}

TEST(SettingsChunk, TrailingBytesAndNonZeroFlagsAreAccepted)
{
    Bytes chunk = Write(Sample());
    chunk.push_back(0xAB);
    chunk[16] = 7; // useMarkers: any non-zero byte is true
    chunk[17] = 0xFF;
    Settings back;
    ASSERT_TRUE(Read(chunk, back));
    EXPECT_EQ(back.slicePoints.useMarkers, 1);
    EXPECT_EQ(back.slicePoints.useDetected, 1);
    EXPECT_EQ(back.meter.meterFlag, 1);

    // The size field is only an upper bound: smaller values are fine.
    PutU32(chunk, 8, 0);
    EXPECT_TRUE(Read(chunk, back));
}

TEST(SettingsChunk, WrongHeaderLeavesTheBlocksUntouched)
{
    const Bytes good = Write(Sample());
    std::vector<Bytes> bad;
    for (std::size_t i = 0; i < 4; ++i)
    {
        bad.push_back(good);
        bad.back()[i] ^= 0x10; // each byte of the magic
    }
    bad.push_back(good);
    bad.back()[4] = 2; // version 2
    bad.push_back(good);
    PutU32(bad.back(), 8, uint32_t(good.size() - 8 + 1)); // size field too large
    bad.push_back(Bytes(good.begin(), good.begin() + 8)); // nothing after the version
    bad.push_back(Bytes(good.begin(), good.begin() + 3));
    bad.push_back(Bytes());

    for (std::size_t i = 0; i < bad.size(); ++i)
    {
        Settings target = Sample();
        target.slicePoints.points.push_back(Point(User, 5, 0.0f));
        const Settings before = target;
        EXPECT_FALSE(Read(bad[i], target)) << i;
        ExpectSame(target, before);
    }

    // The size field equal to the bytes after it passes.
    Settings target;
    Bytes exact = good;
    PutU32(exact, 8, uint32_t(good.size() - 8));
    EXPECT_TRUE(Read(exact, target));
}

TEST(SettingsChunk, TruncatedChunkKeepsWhatWasAlreadyRead)
{
    const Settings s = Sample();
    const Bytes good = Write(s);
    // Cut right after the two points; the size field is made to fit so that the cut is found by
    // the reads themselves.
    Bytes cut(good.begin(), good.begin() + 23 + 38);
    PutU32(cut, 8, uint32_t(cut.size() - 8));

    Settings target;
    target.slicePoints.regionEnd = 4;
    target.meter.bars = 9;
    ASSERT_FALSE(Read(cut, target));
    EXPECT_EQ(target.slicePoints.sensitivity, 0.5f);
    EXPECT_EQ(target.slicePoints.useMarkers, 1);
    EXPECT_EQ(target.slicePoints.useUser, 1);
    ASSERT_EQ(target.slicePoints.points.size(), 2u);
    EXPECT_EQ(target.slicePoints.points[1].position, 22050u);
    EXPECT_EQ(target.slicePoints.points[1].strength, 0.125f);
    EXPECT_EQ(target.slicePoints.regionEnd, 4u);
    EXPECT_EQ(target.meter.bars, 9u);

    // Cut inside the second point: the list already has both entries, the first complete.
    Bytes mid(good.begin(), good.begin() + 23 + 19 + 5);
    PutU32(mid, 8, uint32_t(mid.size() - 8));
    Settings partial;
    ASSERT_FALSE(Read(mid, partial));
    ASSERT_EQ(partial.slicePoints.points.size(), 2u);
    EXPECT_EQ(partial.slicePoints.points[0].position, 1000u);
    EXPECT_EQ(partial.slicePoints.points[1].kind, uint32_t(Detected));
    EXPECT_EQ(partial.slicePoints.points[1].position, 0u);
    // New entries start as host-created points.
    EXPECT_EQ(partial.slicePoints.points[1].tickPosition, -1.0f);
    EXPECT_EQ(partial.slicePoints.points[1].strength, 1.0f);
}

TEST(SettingsChunk, PointCountLimit)
{
    // Header and flags of an empty chunk, with only the point count changed.
    const Bytes empty = Write(Sample());
    Bytes header(empty.begin(), empty.begin() + 23);
    PutU32(header, 8, uint32_t(header.size() - 8));

    Bytes million = header;
    PutU32(million, 19, 1000000);
    Settings target;
    EXPECT_FALSE(Read(million, target)); // passes the count test, then runs out of data
    EXPECT_EQ(target.slicePoints.sensitivity, 0.5f);
    EXPECT_EQ(target.slicePoints.points.size(), 1000000u);

    Bytes tooMany = header;
    PutU32(tooMany, 19, 1000001);
    Settings refused;
    refused.slicePoints.points.resize(3);
    EXPECT_FALSE(Read(tooMany, refused));
    EXPECT_EQ(refused.slicePoints.sensitivity, 0.5f); // read before the count
    EXPECT_EQ(refused.slicePoints.points.size(), 3u); // refused before any point

    Bytes huge = header;
    PutU32(huge, 19, 0xFFFFFFFFu);
    EXPECT_FALSE(Read(huge, refused));
    EXPECT_EQ(refused.slicePoints.points.size(), 3u);
}

TEST(SettingsChunk, SavedChunkRestoresTheLoopInsteadOfAnalysing)
{
    // Clicks every 2000 frames, and a marker that a fresh analysis would add as a point.
    const uint32_t frames = 8000;
    std::vector<float> audio(frames, 0.0f);
    for (uint32_t i = 0; i < frames; i += 2000)
        audio[i] = 1.0f;
    float* channels[] = {audio.data()};
    SourceAudio source;
    source.sampleRate = 44100;
    source.channelCount = 1;
    source.frameCount = frames;
    source.channels = channels;
    source.markerPositions = {500};

    Settings saved;
    saved.slicePoints.sensitivity = 1.0f;
    saved.slicePoints.useUser = 1;
    saved.slicePoints.points = {Point(User, 1000, 1.0f), Point(User, 3000, 1.0f)};
    saved.slicePoints.regionEnd = frames;
    saved.meter.tempo = 240.0f;
    saved.shaping.gainDb = -3.0f;
    source.savedState = Write(saved);

    Loop restored;
    restored.SetSource(&source, true);
    const SlicePoints& points = restored.GetSlicePoints();
    ASSERT_EQ(points.points.size(), 2u);
    EXPECT_EQ(points.points[0].position, 1000u);
    EXPECT_EQ(points.points[1].position, 3000u);
    EXPECT_EQ(points.sensitivity, 1.0f);
    EXPECT_EQ(restored.GetMeterSettings().tempo, 240.0f);
    EXPECT_EQ(restored.GetShapingSettings().gainDb, -3.0f);
    // The restored cuts make the slices.
    const std::vector<RenderSlice>& slices = restored.GetRenderSlices();
    ASSERT_EQ(slices.size(), 3u);
    EXPECT_EQ(slices[0].sourceStart, 0u);
    EXPECT_EQ(slices[1].sourceStart, 1000u);
    EXPECT_EQ(slices[2].sourceStart, 3000u);
    EXPECT_EQ(slices[2].sourceLength, 5000u);

    // A chunk that does not read falls back to the analysis, which brings the marker in.
    source.savedState[4] = 2;
    Loop analysed;
    analysed.SetSource(&source, true);
    bool hasMarker = false;
    for (const SlicePoint& p : analysed.GetSlicePoints().points)
        hasMarker = hasMarker || (p.kind == Marker && p.position == 500);
    EXPECT_TRUE(hasMarker);
    EXPECT_EQ(analysed.GetSlicePoints().regionEnd, frames);
    EXPECT_EQ(analysed.GetSlicePoints().sensitivity, 0.0f);
}
