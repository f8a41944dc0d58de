#include "dsp/marrowlin/SettingsChunk.h"
#include "dsp/marrowlin/Loop.h"
#include "tests/dsp/marrowlin/LoopInputs.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

using namespace DSP::Marrowlin;

namespace
{

using Bytes = std::vector<uint8_t>;

// Independent little-endian decoding and patching of the chunk's fields.
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

SlicePoint Point(uint32_t kind, uint32_t position, float strength)
{
    SlicePoint p = Cut(position);
    p.kind = kind;
    p.sourcePosition = position + 7;
    p.strength = strength;
    return p;
}

struct Settings
{
    SlicePoints slicePoints;
    MeterSettings meter;
    ShapingSettings shaping;
};

// A distinct non-default value in every stored field.
Settings Sample()
{
    Settings s;
    s.slicePoints = Cuts({Point(Marker, 1000, 0.75f), Point(Detected, 22050, 0.125f)}, 16, 88200);
    s.slicePoints.points[1].forceOn = 0;
    s.slicePoints.points[1].conditional = s.slicePoints.points[1].forceOff = 1;
    s.slicePoints.sensitivity = 0.5f;
    s.slicePoints.useDetected = 0;
    s.meter = {3, 1, 7, 8, 120.0f, std::nullopt, 96, 1};
    s.shaping = {1.5f, 20.0f, 300.0f, 0.0f, 0.25f, 0.625f, 0, -12.0f, 33.0f, -6.0f};
    return s;
}

// The writer's layout is checked field by field below, so its output also serves to compare
// the stored fields of two settings.
Bytes Write(const Settings& s)
{
    Bytes out = {0xDE, 0xAD}; // replaced, not appended to
    WriteSettingsChunk(s.slicePoints, s.meter, s.shaping, out);
    return out;
}

bool Read(const Bytes& bytes, Settings& s)
{
    return ReadSettingsChunk(bytes, s.slicePoints, s.meter, s.shaping);
}

} // namespace

TEST(SettingsChunk, Layout)
{
    const Bytes empty = Write(Settings{});
    ASSERT_EQ(empty.size(), 85u);
    EXPECT_EQ(Bytes(empty.begin(), empty.begin() + 12),
              Bytes({0x59, 0x43, 0x6C, 0x01, 1, 0, 0, 0, 77, 0, 0, 0}));

    // Two points of 19 bytes move every later field by 38.
    const Bytes chunk = Write(Sample());
    ASSERT_EQ(chunk.size(), 85u + 38);
    const std::pair<std::size_t, uint32_t> words[] = {
        {8, 77 + 38}, {19, 2},  {23, Marker}, {27, 1007}, {31, 1000}, {42, Detected}, {46, 22057},
        {50, 22050},  {61, 16}, {65, 88200},  {69, 3},    {73, 1},    {77, 7},        {81, 8},
    };
    for (const auto& [offset, value] : words)
        EXPECT_EQ(U32At(chunk, offset), value) << offset;
    const std::pair<std::size_t, float> floats[] = {
        {12, 0.5f},   {38, 0.75f},  {57, 0.125f},  {85, 120.0f},  {89, 1.5f},   {93, 20.0f},
        {97, 300.0f}, {101, 0.25f}, {105, 0.625f}, {110, -12.0f}, {114, 33.0f}, {118, -6.0f},
    };
    for (const auto& [offset, value] : floats)
        EXPECT_EQ(F32At(chunk, offset), value) << offset;
    EXPECT_EQ(Bytes(chunk.begin() + 85, chunk.begin() + 89), Bytes({0, 0, 0xF0, 0x42})); // 120
    const std::pair<std::size_t, uint8_t> flags[] = {{16, 1}, {17, 0},  {18, 1}, {35, 1},
                                                     {36, 0}, {37, 0},  {54, 0}, {55, 1},
                                                     {56, 1}, {109, 0}, {122, 1}};
    for (const auto& [offset, value] : flags)
        EXPECT_EQ(chunk[offset], value) << offset;
}

TEST(SettingsChunk, ReadingRestoresStoredFieldsAndKeepsTheOthers)
{
    Settings target;
    target.meter.fixedTempo = 99.0f;
    target.meter.ticksPerBeat = 480;
    target.shaping.sustainLevel = 0.3f;
    auto& points = target.slicePoints.points;
    points.resize(3); // two are overwritten, the third dropped
    points[0].tickPosition = 192.0f;
    points[1].lockedOn = points[1].deleted = 1;
    points[1].outputPosition = 555;
    ASSERT_TRUE(Read(Write(Sample()), target));
    EXPECT_EQ(Write(target), Write(Sample()));
    EXPECT_EQ(target.meter.fixedTempo, 99.0f);
    EXPECT_EQ(target.meter.ticksPerBeat, 480u);
    ASSERT_EQ(points.size(), 2u);
    EXPECT_EQ(points[0].tickPosition, 192.0f);
    EXPECT_TRUE(points[1].lockedOn && points[1].deleted);
    EXPECT_EQ(points[1].outputPosition, 555u);

    // The empty chunk brings every stored field back to its default; sustainLevel is not one.
    ASSERT_TRUE(Read(Write(Settings{}), target));
    EXPECT_EQ(Write(target), Write(Settings{}));
    EXPECT_EQ(target.shaping.sustainLevel, 0.3f);
}

TEST(SettingsChunk, HeaderChecks)
{
    const Bytes good = Write(Sample());
    auto with = [&](std::size_t at, uint8_t byte)
    {
        Bytes bytes = good;
        bytes[at] = byte;
        return bytes;
    };
    auto counted = [&](uint32_t count)
    {
        Bytes bytes = good;
        PutU32(bytes, 8, count);
        return bytes;
    };
    Bytes longer = good;
    longer.push_back(0xAB);
    const uint32_t exact = uint32_t(good.size() - 8);
    // The count is only an upper bound; the flags at 16 and 17 read as true from any non-zero.
    for (const Bytes& bytes : {longer, counted(0), counted(exact), with(16, 7), with(17, 0xFF)})
    {
        Settings back;
        EXPECT_TRUE(Read(bytes, back)) << bytes.size();
        EXPECT_EQ(back.slicePoints.useMarkers, 1);
        EXPECT_EQ(back.slicePoints.useDetected, bytes[17] != 0 ? 1 : 0);
    }
    // Refused without touching the blocks: any byte of the magic, version 2, a count too large,
    // nothing after the version.
    for (const Bytes& bytes :
         {with(0, 0x49), with(1, 0x53), with(2, 0x7C), with(3, 0x11), with(4, 2),
          counted(exact + 1), Bytes(good.begin(), good.begin() + 8),
          Bytes(good.begin(), good.begin() + 3), Bytes()})
    {
        Settings target;
        target.slicePoints.points.resize(1);
        const Bytes before = Write(target);
        EXPECT_FALSE(Read(bytes, target)) << bytes.size();
        EXPECT_EQ(Write(target), before) << bytes.size();
    }
}

TEST(SettingsChunk, TruncatedChunkKeepsWhatWasAlreadyRead)
{
    const Bytes good = Write(Sample());
    // The count field is made to fit each cut, so that the reads themselves find it.
    auto cut = [&](std::size_t size)
    {
        Bytes bytes(good.begin(), good.begin() + size);
        PutU32(bytes, 8, uint32_t(size - 8));
        return bytes;
    };
    Settings target; // cut right after the two points
    target.slicePoints.regionEnd = 4;
    target.meter.bars = 9;
    ASSERT_FALSE(Read(cut(23 + 38), target));
    EXPECT_EQ(target.slicePoints.sensitivity, 0.5f);
    EXPECT_EQ(target.slicePoints.useUser, 1);
    ASSERT_EQ(target.slicePoints.points.size(), 2u);
    EXPECT_EQ(target.slicePoints.points[1].position, 22050u);
    EXPECT_EQ(target.slicePoints.points[1].strength, 0.125f);
    EXPECT_EQ(target.slicePoints.regionEnd, 4u);
    EXPECT_EQ(target.meter.bars, 9u);

    // Cut inside the second point: both entries exist, the first complete, the second new.
    Settings partial;
    ASSERT_FALSE(Read(cut(23 + 19 + 5), partial));
    ASSERT_EQ(partial.slicePoints.points.size(), 2u);
    EXPECT_EQ(partial.slicePoints.points[0].position, 1000u);
    EXPECT_EQ(partial.slicePoints.points[1].kind, uint32_t(Detected));
    EXPECT_EQ(partial.slicePoints.points[1].position, 0u);
    EXPECT_EQ(partial.slicePoints.points[1].tickPosition, -1.0f);
    EXPECT_EQ(partial.slicePoints.points[1].strength, 1.0f);
}

TEST(SettingsChunk, PointCountLimit)
{
    Bytes header = Write(Sample()); // header and flags only, with the point count changed
    header.resize(23);
    PutU32(header, 8, 15);
    PutU32(header, 19, 1000000);
    Settings target;
    EXPECT_FALSE(Read(header, target)); // passes the count test, then runs out of data
    EXPECT_EQ(target.slicePoints.points.size(), 1000000u);
    for (uint32_t count : {1000001u, 0xFFFFFFFFu}) // the latter, read as signed, would be -1
    {
        PutU32(header, 19, count);
        Settings refused;
        refused.slicePoints.points.resize(3);
        EXPECT_FALSE(Read(header, refused));
        EXPECT_EQ(refused.slicePoints.sensitivity, 0.5f); // read before the count
        EXPECT_EQ(refused.slicePoints.points.size(), 3u); // refused before any point
    }
}

TEST(SettingsChunk, SavedChunkRestoresTheLoopInsteadOfAnalysing)
{
    // Clicks every 2000 frames, and a marker that a fresh analysis would add as a point.
    PlanarSource source(8000);
    for (uint32_t i = 0; i < 8000; i += 2000)
        source.data[0][i] = 1.0f;
    source.audio.markerPositions = {500};
    Settings saved;
    saved.slicePoints = Cuts({Point(User, 1000, 1.0f), Point(User, 3000, 1.0f)}, 0, 8000);
    saved.slicePoints.sensitivity = 1.0f;
    saved.meter.tempo = 240.0f;
    saved.shaping.gainDb = -3.0f;
    source.audio.savedState = Write(saved);

    Loop restored;
    restored.SetSource(&source.audio, true);
    EXPECT_EQ(Write({restored.GetSlicePoints(), restored.GetMeterSettings(),
                     restored.GetShapingSettings()}),
              source.audio.savedState);
    const std::vector<RenderSlice>& slices = restored.GetRenderSlices();
    ASSERT_EQ(slices.size(), 3u); // the restored cuts make the slices
    EXPECT_EQ(slices[1].sourceStart, 1000u);
    EXPECT_EQ(slices[2].sourceStart, 3000u);
    EXPECT_EQ(slices[2].sourceLength, 5000u);

    // A chunk that does not read falls back to the analysis, which brings the marker in.
    source.audio.savedState[4] = 2;
    Loop analysed;
    analysed.SetSource(&source.audio, true);
    bool hasMarker = false;
    for (const SlicePoint& p : analysed.GetSlicePoints().points)
        hasMarker = hasMarker || (p.kind == Marker && p.position == 500);
    EXPECT_TRUE(hasMarker);
}
