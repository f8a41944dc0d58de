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

// The chunk is little-endian, as is every x86-64 host.
template <typename T> T At(const Bytes& b, std::size_t offset)
{
    T value;
    std::memcpy(&value, b.data() + offset, sizeof value);
    return value;
}

void PutU32(Bytes& b, std::size_t offset, uint32_t value)
{
    std::memcpy(b.data() + offset, &value, sizeof value);
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
    // kind, found at, cuts at, output frame, tick, forceOn, conditional, forceOff, lockedOn,
    // deleted, strength
    s.slicePoints = Cuts({{Marker, 1007, 1000, 0, -1.0f, 1, 0, 0, 0, 0, 0.75f},
                          {Detected, 22057, 22050, 0, -1.0f, 0, 1, 1, 0, 0, 0.125f}},
                         16, 88200);
    s.slicePoints.sensitivity = 0.5f;
    s.slicePoints.useDetected = 0;
    s.meter = {3, 1, 7, 8, 120.0f, std::nullopt, 96, 1};
    s.shaping = {1.5f, 20.0f, 300.0f, 0.0f, 0.25f, 0.625f, 0, -12.0f, 33.0f, -6.0f};
    return s;
}

// Also serves to compare the stored fields of two settings, the layout being checked below.
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
        EXPECT_EQ(At<uint32_t>(chunk, offset), value) << offset;
    const std::pair<std::size_t, float> floats[] = {
        {12, 0.5f},   {38, 0.75f},  {57, 0.125f},  {85, 120.0f},  {89, 1.5f},   {93, 20.0f},
        {97, 300.0f}, {101, 0.25f}, {105, 0.625f}, {110, -12.0f}, {114, 33.0f}, {118, -6.0f},
    };
    for (const auto& [offset, value] : floats)
        EXPECT_EQ(At<float>(chunk, offset), value) << offset;
}

// A read restores the stored fields and keeps the others; a refused chunk changes nothing, and
// a truncated one stops where its data runs out.
TEST(SettingsChunk, ReadingRestoresStoredFieldsOrRefuses)
{
    const Bytes good = Write(Sample());
    Settings target;
    target.meter.ticksPerBeat = 480;
    target.shaping.sustainLevel = 0.3f;
    target.slicePoints.points.resize(3);
    target.slicePoints.points[0].tickPosition = 192.0f;
    Bytes longer = good;
    longer.push_back(0xAB); // past the stored length: ignored
    ASSERT_TRUE(Read(longer, target));
    EXPECT_EQ(Write(target), good);
    EXPECT_EQ(target.meter.ticksPerBeat, 480u);
    ASSERT_EQ(target.slicePoints.points.size(), 2u);
    EXPECT_EQ(target.slicePoints.points[0].tickPosition, 192.0f);
    ASSERT_TRUE(Read(Write(Settings{}), target));
    EXPECT_EQ(Write(target), Write(Settings{}));
    EXPECT_EQ(target.shaping.sustainLevel, 0.3f); // not stored

    Bytes magic = good, version = good, tooLong = good;
    magic[3] = 0x11;
    version[4] = 2;
    PutU32(tooLong, 8, uint32_t(good.size() - 7));
    for (const Bytes& bytes : {magic, version, tooLong, Bytes()})
    {
        Settings refused = Sample();
        EXPECT_FALSE(Read(bytes, refused)) << bytes.size();
        EXPECT_EQ(Write(refused), good) << bytes.size();
    }

    Bytes cut(good.begin(), good.begin() + 23 + 38); // right after the two points
    PutU32(cut, 8, uint32_t(cut.size() - 8));
    target.slicePoints.regionEnd = 4;
    ASSERT_FALSE(Read(cut, target));
    EXPECT_EQ(target.slicePoints.sensitivity, 0.5f);
    ASSERT_EQ(target.slicePoints.points.size(), 2u);
    EXPECT_EQ(target.slicePoints.points[1].strength, 0.125f);
    EXPECT_EQ(target.slicePoints.regionEnd, 4u);

    cut.resize(23);
    PutU32(cut, 8, 15);
    PutU32(cut, 19, 1000000);
    EXPECT_FALSE(Read(cut, target)); // passes the count test, then runs out of data
    EXPECT_EQ(target.slicePoints.points.size(), 1000000u);
    PutU32(cut, 19, 1000001u);
    target.slicePoints.points.resize(3);
    EXPECT_FALSE(Read(cut, target));
    EXPECT_EQ(target.slicePoints.points.size(), 3u);
}

TEST(SettingsChunk, SavedChunkRestoresTheLoopInsteadOfAnalysing)
{
    PlanarSource source(88200);
    source.audio.markerPositions = {500}; // analysis would add it
    source.audio.savedState = Write(Sample());
    Loop restored;
    restored.SetSource(&source.audio, true);
    EXPECT_EQ(Write({restored.GetSlicePoints(), restored.GetMeterSettings(),
                     restored.GetShapingSettings()}),
              source.audio.savedState);
    ASSERT_EQ(restored.GetRenderSlices().size(), 2u); // the sample's second point is off
    EXPECT_EQ(restored.GetRenderSlices()[0].sourceStart, 16u);
    EXPECT_EQ(restored.GetRenderSlices()[1].sourceStart, 1000u);
}
