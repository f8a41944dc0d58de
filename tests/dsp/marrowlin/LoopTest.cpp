#include "dsp/marrowlin/Loop.h"
#include "tests/dsp/marrowlin/LoopInputs.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <tuple>
#include <utility>
#include <vector>

using namespace DSP::Marrowlin;

namespace
{

constexpr float NaN = std::numeric_limits<float>::quiet_NaN();
constexpr float Inf = std::numeric_limits<float>::infinity();
using Frames = std::vector<uint32_t>;
using Spanned = std::vector<std::pair<uint32_t, uint32_t>>;

MeterSettings Tempo(float bpm)
{
    MeterSettings meter;
    meter.tempo = bpm;
    return meter;
}

// A Loop over two seconds of silence at 44.1 kHz: 240 BPM as two bars of 4/4.
class LoopTest : public ::testing::Test
{
protected:
    // Installs the cuts over the whole source, without analysis.
    void Install(std::vector<SlicePoint> points, float tempo, const ShapingSettings& shaping = {})
    {
        loop.SetSource(&source.audio, false);
        loop.SetAll(Cuts(std::move(points), 0, source.audio.frameCount), Tempo(tempo), shaping,
                    false);
    }
    Spanned Spans() const
    {
        Spanned spans;
        for (const RenderSlice& slice : loop.GetRenderSlices())
            spans.emplace_back(slice.sourceStart, slice.sourceStart + slice.sourceLength);
        return spans;
    }
    // One field of every slice, in order.
    template <typename T> std::vector<T> Each(T RenderSlice::*field) const
    {
        std::vector<T> values;
        for (const RenderSlice& slice : loop.GetRenderSlices())
            values.push_back(slice.*field);
        return values;
    }
    // Slices ordered, non-empty, inside the region, each with its sound end inside it.
    void ExpectSliceInvariants() const
    {
        uint64_t previousEnd = loop.GetSlicePoints().regionStart;
        for (const RenderSlice& s : loop.GetRenderSlices())
        {
            const uint64_t end = uint64_t(s.sourceStart) + s.sourceLength;
            EXPECT_TRUE(s.sourceLength > 0 && s.sourceStart >= previousEnd &&
                        end <= loop.GetSlicePoints().regionEnd && s.soundEnd >= s.sourceStart &&
                        s.soundEnd < end)
                << s.sourceStart << "+" << s.sourceLength;
            const uint32_t length = loop.GetOutputLength();
            EXPECT_TRUE(s.pinned || length == 0 || s.outputStart < length) << s.outputStart;
            previousEnd = end;
        }
    }

    PlanarSource source{88200};
    Loop loop;
};

} // namespace

TEST_F(LoopTest, AnalysedTwoBarLoopStartsUnstretched)
{
    EXPECT_GE(loop.GetRenderSlices().capacity(), 200u);
    loop.SetSource(&source.audio, true);
    MeterSettings meter = loop.GetMeterSettings();
    EXPECT_EQ(meter.bars * meter.beatsPerBar, 8u);
    EXPECT_FLOAT_EQ(meter.tempo, 240.0f); // 8 beats in 2 s
    EXPECT_FLOAT_EQ(loop.GetStretchRatio(), 1.0f);
    EXPECT_EQ(loop.GetOutputLength(), 88200u);
    meter.tempo = 120.0f;
    loop.SetMeter(meter);
    EXPECT_FLOAT_EQ(loop.GetStretchRatio(), 2.0f);
    EXPECT_EQ(loop.GetOutputLength(), 176400u);

    // One active cut makes two slices; a source swapped in without analysis leaves them alone.
    loop.SetAll(Cuts({Cut(1000)}, 0, 88200), meter, {}, false);
    PlanarSource other(1000, 2, 48000);
    loop.SetSource(&other.audio, false);
    EXPECT_EQ(loop.GetSource(), &other.audio);
    EXPECT_EQ(Spans(), (Spanned{{0, 1000}, {1000, 88200}}));
    EXPECT_EQ(loop.GetOutputLength(), 176400u);
}

TEST_F(LoopTest, LoopTempoFromMeterAndLength)
{
    SlicePoints region = Cuts({}, 0, 240000);
    MeterSettings meter; // 3 bars of 3 plus one beat: 10 beats in 5 s at 48 kHz
    meter.bars = meter.beatsPerBar = 3;
    meter.extraBeats = 1;
    EXPECT_NEAR(Loop::LoopTempo(48000, region, meter), 120.0, 1e-9);
    EXPECT_EQ(Loop::LoopTempo(0, region, meter), 0.0);
    EXPECT_EQ(Loop::LoopTempo(48000, Cuts({}, 500, 100), meter), 0.0);
    meter.fixedTempo = 100.0f; // whatever the length
    EXPECT_EQ(Loop::LoopTempo(48000, region, meter), 100.0);
    EXPECT_EQ(Loop::LoopTempo(0, Cuts({}, 0, 0), meter), 100.0);
    meter = MeterSettings{};
    meter.bars = 0;
    EXPECT_EQ(Loop::LoopTempo(48000, region, meter), 0.0);
}

TEST_F(LoopTest, MeterAndMarkersFromTheSource)
{
    source.audio.totalBeats = 7;
    source.audio.beatsPerBar = 3;
    source.audio.beatUnit = 8;
    source.audio.markerPositions = {5000, 88200, 100000, 300};
    loop.SetSource(&source.audio, true);
    const MeterSettings& meter = loop.GetMeterSettings();
    EXPECT_EQ(Frames({meter.bars, meter.extraBeats, meter.beatsPerBar, meter.beatUnit}),
              (Frames{2, 1, 3, 8}));
    EXPECT_FLOAT_EQ(meter.tempo, 210.0f); // 7 beats in 2 s
    // The markers at and past the end are dropped, the rest sorted and forced on at 0.75.
    const auto& points = loop.GetSlicePoints().points;
    ASSERT_EQ(points.size(), 2u);
    EXPECT_EQ(points[0].kind, uint32_t(Marker));
    EXPECT_EQ(points[0].strength, 0.75f);
    EXPECT_EQ(Spans(), (Spanned{{0, 300}, {300, 5000}, {5000, 88200}}));

    source.audio.beatUnit = 0; // an incomplete source meter falls back to 2 bars of 4
    loop.SetSource(&source.audio, true);
    EXPECT_EQ(Frames({meter.bars, meter.extraBeats, meter.beatsPerBar}), (Frames{2, 0, 4}));
}

TEST_F(LoopTest, PointActivity)
{
    // Installs the one point; returns whether its strength passes and whether it is active.
    auto judge = [&](SlicePoint point, float sensitivity, uint8_t useFlag, bool conditional)
    {
        SlicePoints points = Cuts({point}, 0, 1000);
        points.sensitivity = sensitivity;
        points.useMarkers = points.useDetected = points.useUser = useFlag;
        loop.SetAll(points, MeterSettings{}, ShapingSettings{}, true);
        return std::make_pair(loop.PassesSensitivity(0), loop.IsPointActive(0, conditional));
    };
    // Sensitivity s passes a strength >= (1 - s)^2, and nothing when s <= 0 or NaN.
    const std::tuple<float, float, bool> strengths[] = {
        {0.5f, 0.25f, true}, {0.5f, 0.2499f, false}, {1.0f, 0.0f, true},
        {0.0f, 1.0f, false}, {NaN, 1.0f, false},
    };
    for (const auto& [sensitivity, strength, passes] : strengths)
    {
        SlicePoint point;
        point.strength = strength;
        EXPECT_EQ(judge(point, sensitivity, 1, false), std::make_pair(passes, passes))
            << sensitivity << " " << strength;
    }
    EXPECT_FALSE(loop.PassesSensitivity(1));
    EXPECT_FALSE(loop.IsPointActive(1, true));

    // Flags deleted, lockedOn, forceOff, forceOn, conditional, in order of precedence; with
    // sensitivity 1 a strength of -1 fails and 1 passes.
    const std::tuple<const char*, float, bool, bool> cases[] = {
        {"11010", 1, false, false}, {"01100", -1, false, true}, {"00110", 1, false, false},
        {"00011", -1, false, true}, {"00001", 1, false, false}, {"00001", 1, true, true},
    };
    for (const auto& [flags, strength, include, active] : cases)
    {
        SlicePoint point;
        point.strength = strength;
        uint8_t* fields[] = {&point.deleted, &point.lockedOn, &point.forceOff, &point.forceOn,
                             &point.conditional};
        for (int i = 0; i < 5; ++i)
            *fields[i] = flags[i] == '1';
        EXPECT_EQ(judge(point, 1.0f, 1, include).second, active) << flags;
    }
    // Even a locked point is off when its kind may not cut; unknown kinds never cut.
    SlicePoint locked;
    locked.lockedOn = 1;
    for (uint32_t kind : {uint32_t(Marker), uint32_t(Detected), uint32_t(User), 7u})
    {
        locked.kind = kind;
        EXPECT_EQ(judge(locked, 1.0f, 1, false).second, kind != 7u) << "kind " << kind;
        EXPECT_FALSE(judge(locked, 1.0f, 0, false).second) << "kind " << kind;
    }
}

TEST_F(LoopTest, SlicesAroundActiveCuts)
{
    SlicePoint inactive = Cut(40000);
    inactive.forceOff = 1;
    Install({Cut(0), Cut(1000), inactive}, 120.0f); // a cut at the region start adds nothing
    EXPECT_EQ(Spans(), (Spanned{{0, 1000}, {1000, 88200}}));
    EXPECT_EQ(Each(&RenderSlice::outputStart), (Frames{0, 2000})); // 1000 * 176399 / 88199

    // Unsorted points, and points outside the region.
    loop.SetAll(Cuts({Cut(1000), Cut(500), Cut(3000), Cut(90000)}, 500, 5000), Tempo(120), {},
                false);
    EXPECT_EQ(Spans(), (Spanned{{500, 1000}, {1000, 3000}, {3000, 5000}}));
    loop.SetAll(Cuts({}, 0, 88200), Tempo(120), {}, false);
    EXPECT_TRUE(loop.GetRenderSlices().empty());
}

TEST_F(LoopTest, FindSliceAroundAtTheEdges)
{
    SlicePoint deleted = Cut(3000);
    deleted.deleted = 1;
    Install({Cut(1000), deleted, Cut(5000)}, 240.0f);
    auto around = [&](uint32_t frame, uint32_t limit)
    {
        uint32_t start = 1, length = 1;
        loop.FindSliceAround(frame, limit, start, length);
        return Frames{start, length};
    };
    EXPECT_EQ(around(1000, 88200), (Frames{1000, 4000}));
    EXPECT_EQ(around(88199, 88200), (Frames{5000, 83200}));
    EXPECT_EQ(around(90000, 100000), (Frames{88200, 11800}));
    EXPECT_EQ(around(6000, 3000), (Frames{5000, 0})); // limit before the cut
    loop.SetAll(Cuts({Cut(1000)}, 200, 88200), Tempo(240), {}, false);
    EXPECT_EQ(around(100, 88200), (Frames{0, 200}));
    EXPECT_EQ(around(300, 88200), (Frames{200, 800}));
}

TEST_F(LoopTest, TimelineConversions)
{
    Install({Cut(44100)}, 120.0f);
    EXPECT_EQ(loop.OutputToSource(176399, 0.0f), 88199u);
    EXPECT_EQ(loop.OutputToSource(88200, 0.0f), 44100u); // 88200 * 88199 / 176399 = 44099.75
    EXPECT_EQ(loop.OutputToSource(500000, 0.0f), 88199u);
    EXPECT_EQ(loop.OutputToSource(1000, 240.0f), 1000u);
    EXPECT_EQ(loop.TicksToOutput(96.0f, 0.0f), 22050u); // one beat at 120 BPM
    EXPECT_EQ(loop.TicksToOutput(96.0f, 240.0f), 11025u);
    EXPECT_EQ(loop.TicksToOutput(NaN, 240.0f), 0u);

    // An output rate of twice the source's doubles the output frames.
    loop.SetMeter(Tempo(240.0f));
    loop.SetOutputSampleRate(88200.0f);
    EXPECT_EQ(loop.GetOutputLength(), 176400u);
    EXPECT_EQ(Each(&RenderSlice::outputStart), (Frames{0, 88201})); // 44100 * 176399 / 88199
    EXPECT_EQ(loop.TicksToOutput(96.0f, 120.0f), 44100u);
    loop.SetOutputSampleRate(NaN); // not a rate: the source's rate is used
    EXPECT_EQ(loop.EffectiveSampleRate(), 44100.0f);
    EXPECT_EQ(loop.GetOutputLength(), 88200u);

    loop.SetMeter(Tempo(0)); // no target tempo: no output length, positions pass through
    EXPECT_EQ(loop.GetOutputLength(), 0u);
    EXPECT_EQ(loop.OutputToSource(1234, 0.0f), 1234u);
    EXPECT_EQ(loop.TicksToOutput(96.0f, NaN), 0u);
    loop.SetAll(Cuts({}, 0, 0), Tempo(120), {}, false); // empty region
    EXPECT_EQ(loop.OutputToSource(1234, 0.0f), 0u);
    EXPECT_EQ(loop.TicksToOutput(96.0f, 120.0f), 0u);

    // 20 000 001 frames at stretch 1 is not a float; it ties to the even neighbour 20 000 000.
    MeterSettings meter = Tempo(100.0f);
    meter.fixedTempo = 100.0f;
    loop.SetAll(Cuts({}, 0, 20000001), meter, {}, false);
    EXPECT_EQ(loop.GetOutputLength(), 20000000u);
}

TEST_F(LoopTest, PinnedSlicesTakeTheirTickPositionAndStretch)
{
    ShapingSettings shaping;
    shaping.tailExtension = 0.5f;
    // At 120 BPM a beat (96 ticks) is 22050 output frames; unpinned, slice 1 would be at 44100.
    Install({Cut(0), Cut(22050, 96.0f), Cut(44100)}, 120.0f, shaping);
    EXPECT_EQ(Each(&RenderSlice::pinned), (std::vector<uint8_t>{0, 1, 0}));
    EXPECT_EQ(Each(&RenderSlice::outputStart), (Frames{0, 22050, 88201}));
    // Unpinned 500 ms in a 1000 ms slot: release 20 + 250 ms. Pinned at ratio 1: no gap to fill.
    EXPECT_EQ(Each(&RenderSlice::gateRelease), (Frames{11907, 882, 22932}));
    EXPECT_EQ(Each(&RenderSlice::gateHold), (Frames{21159, 21159, 43209}));

    // Pinned at the very start, it borrows the ratio of the slice after it (22050 / 22050), or
    // takes 1 when alone rather than the loop's 2.
    Install({Cut(0, 0.0f), Cut(22050, 96.0f)}, 120.0f, shaping);
    EXPECT_EQ(loop.GetRenderSlices()[0].gateRelease, 882u);
    Install({Cut(0, 0.0f)}, 120.0f, shaping);
    EXPECT_EQ(loop.GetRenderSlices()[0].gateRelease, 882u);

    // The first slice is pinned by point 0 even when that point is deleted and before the region.
    SlicePoint early = Cut(500, 96.0f);
    early.deleted = 1;
    loop.SetAll(Cuts({early, Cut(30000)}, 1000, 88200), Tempo(120), shaping, false);
    EXPECT_EQ(Spans(), (Spanned{{1000, 30000}, {30000, 88200}}));
    EXPECT_EQ(loop.GetOutputLength(), 176400u); // 8 beats at 120 BPM, whatever the region
    EXPECT_EQ(Each(&RenderSlice::outputStart), (Frames{22050, 58665})); // 29000 * 176399 / 87199
}

TEST_F(LoopTest, ShapingOfEverySlice)
{
    ShapingSettings shaping;
    shaping.attackMs = 10.0f;
    shaping.holdMs = 0.5f;
    shaping.sustainLevel = 0.25f;
    shaping.tailFromSoundEnd = 0;
    shaping.tailLoopPosition = 0.5f;
    shaping.semitones = 12.0f;
    Install({Cut(1000)}, 240.0f, shaping);
    const RenderSlice& first = loop.GetRenderSlices()[0];
    EXPECT_EQ(first.ampAttack, 441u);
    EXPECT_EQ(first.ampHold, 22u); // 22.05
    EXPECT_EQ(first.ampSustain, 0.25f);
    EXPECT_EQ(first.tailCrossfade, 220u); // 220.499995 with the single-precision 0.005
    EXPECT_DOUBLE_EQ(first.initialRate, 2.0);
    EXPECT_EQ(Each(&RenderSlice::tailLoopStart), (Frames{500, 43600}));

    shaping.tailLoopPosition = 1.0f;
    shaping.semitones = 0.0f;
    shaping.cents = -1200.0f;
    loop.SetShaping(shaping);
    EXPECT_EQ(Each(&RenderSlice::tailLoopStart), (Frames{0, 0}));
    EXPECT_DOUBLE_EQ(first.initialRate, 0.5);
    shaping.tailLoopPosition = 0.5f;
    shaping.tailFromSoundEnd = 1; // silent audio: the sound ends where the slice starts
    loop.SetShaping(shaping);
    EXPECT_EQ(Each(&RenderSlice::soundEnd), (Frames{0, 1000}));
    EXPECT_EQ(Each(&RenderSlice::tailLoopStart), (Frames{0, 0}));
}

TEST(Loop, ManyDescendingPointsRebuildInLinearTime)
{
    // Every cut after the first lies behind the cursor; a quadratic rebuild would not finish.
    constexpr uint32_t count = 300000;
    PlanarSource source(count + 1);
    std::vector<SlicePoint> points;
    for (uint32_t i = count; i >= 1; --i)
        points.push_back(Cut(i));
    Loop loop;
    loop.SetSource(&source.audio, false);
    loop.SetAll(Cuts(std::move(points), 0, count + 1), Tempo(120), {}, false);
    ASSERT_EQ(loop.GetRenderSlices().size(), 2u);
    EXPECT_EQ(loop.GetRenderSlices()[1].sourceStart, count);
}

class LoopHostileValue : public LoopTest, public ::testing::WithParamInterface<float>
{
};

TEST_P(LoopHostileValue, EverySetterKeepsTheSlicesValid)
{
    const float value = GetParam();
    for (uint32_t i = 0; i < 20000; ++i)
        source.data[0][i] = std::sin(0.01f * float(i)) * float(20000 - i) / 20000.0f;
    std::vector<SlicePoint> points = {Cut(0), Cut(3000, value), Cut(9000), Cut(15000, 48.0f),
                                      Cut(4000000000u)};
    points[2].strength = value;
    points[2].forceOn = 0;
    Install(points, 120.0f);
    MeterSettings fixed = Tempo(120.0f), extreme = Tempo(120.0f);
    fixed.fixedTempo = value;
    extreme.ticksPerBeat = value > 1.0f ? uint32_t(-1) : 0u;
    extreme.bars = extreme.beatsPerBar = uint32_t(-1);
    SlicePoints sensitive = Cuts(points, 0, 20000);
    sensitive.sensitivity = value;
    std::vector<std::function<void()>> setters = {
        [&] { loop.SetMeter(Tempo(value)); },
        [&] { loop.SetMeter(fixed); },
        [&] { loop.SetAll(sensitive, Tempo(120.0f), {}, false); },
        [&] { loop.SetOutputSampleRate(value); },
        [&] { loop.SetDetectionWindow(value); },
        [&] { loop.SetMeter(extreme); },
        [&] { loop.SetAll(Cuts(points, 100, 4100000000u), Tempo(120.0f), {}, false); },
    };
    for (float ShapingSettings::*field :
         {&ShapingSettings::attackMs, &ShapingSettings::holdMs, &ShapingSettings::decayMs,
          &ShapingSettings::sustainLevel, &ShapingSettings::tailExtension,
          &ShapingSettings::tailLoopPosition, &ShapingSettings::semitones, &ShapingSettings::cents,
          &ShapingSettings::gainDb})
    {
        setters.push_back(
            [&, field]
            {
                ShapingSettings shaping;
                shaping.tailFromSoundEnd = 0;
                shaping.*field = value;
                loop.SetShaping(shaping);
            });
    }
    for (std::size_t i = 0; i < setters.size(); ++i)
    {
        SCOPED_TRACE(i);
        setters[i]();
        ExpectSliceInvariants();
        loop.OutputToSource(uint32_t(-1), value);
        loop.TicksToOutput(value, value);
        uint32_t start = 0, length = 0;
        loop.FindSliceAround(uint32_t(-1), uint32_t(-1), start, length);
        EXPECT_LE(uint64_t(start) + length, uint64_t(uint32_t(-1)));
    }
    loop.SetAll(Cuts(points, 15000, 3000), Tempo(120.0f), {}, false); // end before start
    EXPECT_TRUE(loop.GetRenderSlices().empty());
}

INSTANTIATE_TEST_SUITE_P(Values, LoopHostileValue,
                         ::testing::Values(NaN, Inf, -Inf, -1.0f, 0.0f, 1e-40f, 0.5f, 1e30f, -1e30f,
                                           std::numeric_limits<float>::max()));
