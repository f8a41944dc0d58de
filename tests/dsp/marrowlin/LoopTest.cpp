#include "dsp/marrowlin/Loop.h"
#include "tests/dsp/marrowlin/LoopInputs.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>
#include <vector>

using namespace DSP::Marrowlin;

namespace
{

using Frames = std::vector<uint32_t>;
using Spanned = std::vector<std::pair<uint32_t, uint32_t>>;

// A Loop over two seconds of silence at 44.1 kHz: 240 BPM as two bars of 4/4.
class LoopTest : public ::testing::Test
{
protected:
    void Install(std::vector<SlicePoint> points, float tempo, const ShapingSettings& shaping = {})
    {
        loop.SetSource(&source.audio, false);
        loop.SetAll(Cuts(std::move(points), 0, source.audio.frameCount),
                    {.tempo = tempo, .fixedTempo = std::nullopt}, shaping, false);
    }
    Spanned Spans() const
    {
        Spanned spans;
        for (const RenderSlice& slice : loop.GetRenderSlices())
            spans.emplace_back(slice.sourceStart, slice.sourceStart + slice.sourceLength);
        return spans;
    }
    template <typename T> std::vector<T> Each(T RenderSlice::*field) const
    {
        std::vector<T> values;
        for (const RenderSlice& slice : loop.GetRenderSlices())
            values.push_back(slice.*field);
        return values;
    }

    PlanarSource source{88200};
    Loop loop;
};

} // namespace

// Analysed without a meter of its own the loop is two bars of 4/4 and starts unstretched.
TEST_F(LoopTest, AnalysisSetsMeterTempoAndMarkers)
{
    EXPECT_GE(loop.GetRenderSlices().capacity(), 200u);
    loop.SetSource(&source.audio, true);
    MeterSettings meter = loop.GetMeterSettings();
    EXPECT_EQ(meter.bars * meter.beatsPerBar, 8u);
    EXPECT_FLOAT_EQ(meter.tempo, 240.0f);
    EXPECT_FLOAT_EQ(loop.GetStretchRatio(), 1.0f);
    EXPECT_EQ(loop.GetOutputLength(), 88200u);
    meter.tempo = 120.0f;
    loop.SetMeter(meter);
    EXPECT_FLOAT_EQ(loop.GetStretchRatio(), 2.0f);
    EXPECT_EQ(loop.GetOutputLength(), 176400u);

    SlicePoint inactive = Cut(40000);
    inactive.forceOff = 1;
    loop.SetAll(Cuts({Cut(0), Cut(1000), inactive}, 0, 88200), meter, {}, false);
    EXPECT_EQ(Spans(), (Spanned{{0, 1000}, {1000, 88200}}));
    EXPECT_EQ(Each(&RenderSlice::outputStart), (Frames{0, 2000})); // 1000 * 176399 / 88199
    PlanarSource other(1000, 2, 48000);
    loop.SetSource(&other.audio, false);
    EXPECT_EQ(Spans(), (Spanned{{0, 1000}, {1000, 88200}}));
    meter.fixedTempo = 100.0f;
    EXPECT_EQ(Loop::LoopTempo(48000, loop.GetSlicePoints(), meter), 100.0);
    EXPECT_EQ(Loop::LoopTempo(0, loop.GetSlicePoints(), MeterSettings{}), 0.0);

    // A meter and markers that come with the source.
    source.audio.totalBeats = 7;
    source.audio.beatsPerBar = 3;
    source.audio.beatUnit = 8;
    source.audio.markerPositions = {5000, 88200, 100000, 300};
    loop.SetSource(&source.audio, true);
    meter = loop.GetMeterSettings();
    EXPECT_EQ(Frames({meter.bars, meter.extraBeats, meter.beatsPerBar, meter.beatUnit}),
              (Frames{2, 1, 3, 8}));
    const auto& points = loop.GetSlicePoints().points;
    ASSERT_EQ(points.size(), 2u);
    EXPECT_EQ(points[0].kind, uint32_t(Marker));
    EXPECT_EQ(points[0].strength, 0.75f);
    EXPECT_EQ(Spans(), (Spanned{{0, 300}, {300, 5000}, {5000, 88200}}));
}

// Flags deleted, lockedOn, forceOff, forceOn and conditional (in order of precedence),
// sensitivity, strength, the use flags and whether conditional points count -> active. Without
// flags a point is active when its strength passes the sensitivity.
TEST_F(LoopTest, PointActivity)
{
    const std::tuple<const char*, float, float, uint8_t, bool, bool> cases[] = {
        {"00000", 0.5f, 0.25f, 1, false, true}, {"00000", 0.5f, 0.2499f, 1, false, false},
        {"00000", 1.0f, 0.0f, 1, false, true},  {"00000", 0.0f, 1.0f, 1, false, false},
        {"00000", NAN, 1.0f, 1, false, false},  {"11010", 1, 1, 1, false, false},
        {"01100", 1, -1, 1, false, true},       {"00110", 1, 1, 1, false, false},
        {"00011", 1, -1, 1, false, true},       {"00001", 1, 1, 1, false, false},
        {"00001", 1, 1, 1, true, true},         {"01000", 1, 1, 0, false, false},
    };
    for (const auto& [flags, sensitivity, strength, use, conditional, active] : cases)
    {
        SlicePoint point;
        point.strength = strength;
        uint8_t* fields[] = {&point.deleted, &point.lockedOn, &point.forceOff, &point.forceOn,
                             &point.conditional};
        for (int i = 0; i < 5; ++i)
            *fields[i] = flags[i] == '1';
        SlicePoints points = Cuts({point}, 0, 1000);
        points.sensitivity = sensitivity;
        points.useMarkers = points.useDetected = points.useUser = use;
        loop.SetAll(points, MeterSettings{}, ShapingSettings{}, true);
        EXPECT_EQ(loop.IsPointActive(0, conditional), active) << flags << " " << strength;
    }
}

// The shaping every slice carries, pinned slices and timeline conversions.
TEST_F(LoopTest, RenderSlicesTimingAndShaping)
{
    ShapingSettings shaping{.attackMs = 10.0f,
                            .sustainLevel = 0.25f,
                            .tailLoopPosition = 0.5f,
                            .tailFromSoundEnd = 0,
                            .semitones = 12.0f};
    Install({Cut(1000)}, 240.0f, shaping);
    const RenderSlice& first = loop.GetRenderSlices()[0];
    EXPECT_EQ(first.ampAttack, 441u);
    EXPECT_EQ(first.ampSustain, 0.25f);
    EXPECT_EQ(first.tailCrossfade, 220u);
    EXPECT_DOUBLE_EQ(first.initialRate, 2.0);
    EXPECT_EQ(Each(&RenderSlice::tailLoopStart), (Frames{500, 43600}));
    shaping.tailLoopPosition = 1.0f;
    loop.SetShaping(shaping);
    EXPECT_EQ(Each(&RenderSlice::tailLoopStart), (Frames{0, 0}));
    shaping.tailLoopPosition = 0.5f;
    shaping.tailFromSoundEnd = 1; // silent audio: the sound ends where the slice starts
    loop.SetShaping(shaping);
    EXPECT_EQ(Each(&RenderSlice::tailLoopStart), (Frames{0, 0}));

    Install({Cut(0), Cut(22050, 96.0f), Cut(44100)}, 120.0f, {.tailExtension = 0.5f});
    EXPECT_EQ(Each(&RenderSlice::outputStart), (Frames{0, 22050, 88201}));
    // Unpinned 500 ms in a 1000 ms slot: release 20 + 250 ms. Pinned at ratio 1: no gap to fill.
    EXPECT_EQ(Each(&RenderSlice::gateRelease), (Frames{11907, 882, 22932}));
    EXPECT_EQ(Each(&RenderSlice::gateHold), (Frames{21159, 21159, 43209}));
    EXPECT_EQ(loop.OutputToSource(88200, 0.0f), 44100u); // 88200 * 88199 / 176399 = 44099.75
    EXPECT_EQ(loop.TicksToOutput(96.0f, 0.0f), 22050u);
    loop.SetMeter({.tempo = 240.0f, .fixedTempo = std::nullopt});
    loop.SetOutputSampleRate(88200.0f);
    EXPECT_EQ(Each(&RenderSlice::outputStart), (Frames{0, 22050, 88201})); // 96 ticks: 0.25 s
    loop.SetMeter({.tempo = 0.0f, .fixedTempo = std::nullopt});
    EXPECT_EQ(loop.GetOutputLength(), 0u);
    EXPECT_EQ(loop.OutputToSource(1234, 0.0f), 1234u);
}

TEST_F(LoopTest, HostileValuesKeepTheSlicesValid)
{
    for (float value : {NAN, INFINITY, -1.0f, 0.0f, 1e30f})
    {
        std::vector<SlicePoint> points = {Cut(0), Cut(3000, value), Cut(9000), Cut(4000000000u)};
        points[2].strength = value;
        points[2].forceOn = 0;
        const SlicePoints sensitive{value, 1, 1, 1, points, 0, 20000};
        loop.SetSource(&source.audio, false);
        // Every float of the shaping hostile, the tail placed by the loop position.
        const ShapingSettings shaping{value, value, value, value, value,
                                      value, 0,     value, value, value};
        loop.SetAll(sensitive, {.tempo = value, .fixedTempo = value}, shaping, false);
        loop.SetOutputSampleRate(value);
        loop.SetDetectionWindow(value);
        uint64_t previousEnd = 0;
        for (const RenderSlice& s : loop.GetRenderSlices())
        {
            const uint64_t end = uint64_t(s.sourceStart) + s.sourceLength;
            EXPECT_TRUE(s.sourceLength > 0 && s.sourceStart >= previousEnd && end <= 20000 &&
                        s.soundEnd >= s.sourceStart && s.soundEnd < end)
                << value;
            previousEnd = end;
        }
        loop.OutputToSource(uint32_t(-1), value);
        loop.TicksToOutput(value, value);
    }
}
