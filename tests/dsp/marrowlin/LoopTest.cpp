#include "dsp/marrowlin/Loop.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <utility>
#include <vector>

using namespace DSP::Marrowlin;

namespace
{

constexpr float NaN = std::numeric_limits<float>::quiet_NaN();
constexpr float Inf = std::numeric_limits<float>::infinity();

// Silent planar audio that outlives the Loop referring to it.
struct TestSource
{
    std::vector<std::vector<float>> data;
    std::vector<float*> pointers;
    SourceAudio audio;

    explicit TestSource(uint32_t frames, uint32_t channels = 1, uint32_t rate = 44100)
        : data(channels, std::vector<float>(frames, 0.0f))
    {
        for (auto& channel : data)
        {
            pointers.push_back(channel.data());
        }
        audio.sampleRate = rate;
        audio.channelCount = channels;
        audio.frameCount = frames;
        audio.channels = pointers.data();
    }
};

SlicePoint Cut(uint32_t position, float tick = -1.0f)
{
    SlicePoint point;
    point.sourcePosition = position;
    point.position = position;
    point.forceOn = 1;
    point.tickPosition = tick;
    return point;
}

SlicePoints Cuts(std::vector<SlicePoint> points, uint32_t regionStart, uint32_t regionEnd)
{
    SlicePoints slicePoints;
    slicePoints.useMarkers = slicePoints.useDetected = slicePoints.useUser = 1;
    slicePoints.points = std::move(points);
    slicePoints.regionStart = regionStart;
    slicePoints.regionEnd = regionEnd;
    return slicePoints;
}

MeterSettings Tempo(float bpm)
{
    MeterSettings meter;
    meter.tempo = bpm;
    return meter;
}

// Attaches without analysis and installs the cuts over the whole source.
void Install(Loop& loop, TestSource& source, std::vector<SlicePoint> points, float tempo,
             const ShapingSettings& shaping = {})
{
    loop.SetSource(&source.audio, false);
    loop.SetAll(Cuts(std::move(points), 0, source.audio.frameCount), Tempo(tempo), shaping, false);
}

std::vector<std::pair<uint32_t, uint32_t>> Spans(const Loop& loop)
{
    std::vector<std::pair<uint32_t, uint32_t>> spans;
    for (const RenderSlice& slice : loop.GetRenderSlices())
    {
        spans.emplace_back(slice.sourceStart, slice.sourceStart + slice.sourceLength);
    }
    return spans;
}

using Spanned = std::vector<std::pair<uint32_t, uint32_t>>;

void ExpectSliceInvariants(const Loop& loop)
{
    const SlicePoints& points = loop.GetSlicePoints();
    uint64_t previousEnd = points.regionStart;
    for (const RenderSlice& slice : loop.GetRenderSlices())
    {
        const uint64_t end = uint64_t(slice.sourceStart) + slice.sourceLength;
        EXPECT_GT(slice.sourceLength, 0u);
        EXPECT_GE(slice.sourceStart, previousEnd);
        EXPECT_LE(end, points.regionEnd);
        EXPECT_GE(slice.soundEnd, slice.sourceStart);
        EXPECT_LT(slice.soundEnd, end);
        if (!slice.pinned && loop.GetOutputLength() > 0)
        {
            EXPECT_LT(slice.outputStart, loop.GetOutputLength());
        }
        previousEnd = end;
    }
}

} // namespace

TEST(Loop, StartsEmptyWithRoomForSlices)
{
    Loop loop;
    EXPECT_GE(loop.GetRenderSlices().capacity(), 200u);
    EXPECT_EQ(loop.GetDetectionWindow(), 75.0f);
    EXPECT_EQ(loop.EffectiveSampleRate(), 44100.0f);
    EXPECT_EQ(loop.GetOutputLength(), 0u);
}

TEST(Loop, AnalysedTwoBarLoopStartsUnstretched)
{
    TestSource source(88200);
    Loop loop;
    loop.SetSource(&source.audio, true);

    const MeterSettings& meter = loop.GetMeterSettings();
    EXPECT_EQ(meter.bars, 2u);
    EXPECT_EQ(meter.beatsPerBar, 4u);
    EXPECT_FLOAT_EQ(meter.tempo, 240.0f);
    EXPECT_FLOAT_EQ(loop.GetStretchRatio(), 1.0f);
    EXPECT_EQ(loop.GetOutputLength(), 88200u);
    EXPECT_EQ(loop.GetSlicePoints().regionEnd, 88200u);
    EXPECT_EQ(loop.GetSlicePoints().useDetected, 1);
    EXPECT_EQ(loop.GetShapingSettings().tailLoopPosition, 0.5f);
    EXPECT_EQ(loop.GetShapingSettings().tailFromSoundEnd, 1);

    MeterSettings slower = meter;
    slower.tempo = 120.0f;
    loop.SetMeter(slower);
    EXPECT_FLOAT_EQ(loop.GetStretchRatio(), 2.0f);
    EXPECT_EQ(loop.GetOutputLength(), 176400u);
}

TEST(Loop, LoopTempoFromMeterAndLength)
{
    SlicePoints region = Cuts({}, 0, 240000);
    MeterSettings meter; // 3 bars of 3 plus one beat: 10 beats in 5 s at 48 kHz
    meter.bars = 3;
    meter.beatsPerBar = 3;
    meter.extraBeats = 1;
    EXPECT_NEAR(Loop::LoopTempo(48000, region, meter), 120.0, 1e-9);
    EXPECT_EQ(Loop::LoopTempo(0, region, meter), 0.0);

    meter.fixedTempo = 100.0f;
    EXPECT_EQ(Loop::LoopTempo(48000, region, meter), 100.0);
    EXPECT_EQ(Loop::LoopTempo(0, Cuts({}, 0, 0), meter), 100.0);

    MeterSettings noBeats;
    noBeats.bars = 0;
    EXPECT_EQ(Loop::LoopTempo(48000, region, noBeats), 0.0);
    EXPECT_EQ(Loop::LoopTempo(48000, Cuts({}, 500, 100), MeterSettings{}), 0.0);
}

TEST(Loop, MeterAndMarkersFromTheSource)
{
    TestSource source(88200);
    source.audio.totalBeats = 7;
    source.audio.beatsPerBar = 3;
    source.audio.beatUnit = 8;
    source.audio.markerPositions = {5000, 88200, 100000, 300};
    Loop loop;
    loop.SetSource(&source.audio, true);

    const MeterSettings& meter = loop.GetMeterSettings();
    EXPECT_EQ(meter.bars, 2u);
    EXPECT_EQ(meter.extraBeats, 1u);
    EXPECT_EQ(meter.beatsPerBar, 3u);
    EXPECT_EQ(meter.beatUnit, 8u);
    EXPECT_FLOAT_EQ(meter.tempo, 210.0f); // 7 beats in 2 s

    const auto& points = loop.GetSlicePoints().points;
    ASSERT_EQ(points.size(), 2u); // the markers at and past the end are dropped
    EXPECT_EQ(points[0].position, 300u);
    EXPECT_EQ(points[1].position, 5000u);
    EXPECT_EQ(points[0].kind, uint32_t(Marker));
    EXPECT_EQ(points[0].strength, 0.75f);
    EXPECT_EQ(points[0].forceOn, 1);
    EXPECT_EQ(Spans(loop), (Spanned{{0, 300}, {300, 5000}, {5000, 88200}}));

    source.audio.beatUnit = 0; // an incomplete source meter falls back to 2 bars of 4
    loop.SetSource(&source.audio, true);
    EXPECT_EQ(loop.GetMeterSettings().bars, 2u);
    EXPECT_EQ(loop.GetMeterSettings().extraBeats, 0u);
    EXPECT_EQ(loop.GetMeterSettings().beatsPerBar, 4u);
}

TEST(Loop, SensitivityThresholds)
{
    TestSource source(1000);
    Loop loop;
    SlicePoint weak = Cut(100), justBelow = Cut(200), zero = Cut(300), full = Cut(400);
    weak.forceOn = justBelow.forceOn = zero.forceOn = full.forceOn = 0;
    weak.strength = 0.25f;
    justBelow.strength = 0.2499f;
    zero.strength = 0.0f;
    Install(loop, source, {weak, justBelow, zero, full}, 0.0f);

    auto passing = [&](float sensitivity)
    {
        SlicePoints points = loop.GetSlicePoints();
        points.sensitivity = sensitivity;
        loop.SetAll(points, loop.GetMeterSettings(), loop.GetShapingSettings(), true);
        std::vector<bool> result;
        for (uint32_t i = 0; i < 4; ++i)
        {
            result.push_back(loop.PassesSensitivity(i));
            EXPECT_EQ(loop.IsPointActive(i, false), result.back());
        }
        return result;
    };
    EXPECT_EQ(passing(0.5f), (std::vector<bool>{true, false, false, true}));
    EXPECT_EQ(passing(1.0f), (std::vector<bool>{true, true, true, true}));
    EXPECT_EQ(passing(0.0f), (std::vector<bool>{false, false, false, false}));
    EXPECT_EQ(passing(NaN), (std::vector<bool>{false, false, false, false}));
    EXPECT_FALSE(loop.PassesSensitivity(4));
    EXPECT_FALSE(loop.IsPointActive(4, true));
}

TEST(Loop, ActivityPrecedenceAndUseFlags)
{
    TestSource source(1000);
    Loop loop;
    auto active = [&](SlicePoint point, uint8_t useFlag, bool conditional)
    {
        SlicePoints points = Cuts({point}, 0, 1000);
        points.sensitivity = 1.0f; // every strength from 0 up passes
        points.useMarkers = points.useDetected = points.useUser = useFlag;
        loop.SetAll(points, MeterSettings{}, ShapingSettings{}, true);
        return loop.IsPointActive(0, conditional);
    };
    // deleted, lockedOn, forceOff, forceOn, conditional, strength, include conditional: active?
    const struct
    {
        uint8_t deleted, lockedOn, forceOff, forceOn, conditional;
        float strength;
        bool include, expected;
    } cases[] = {
        {0, 0, 0, 0, 0, 1.0f, false, true},  {0, 0, 0, 0, 0, -1.0f, false, false},
        {1, 1, 0, 1, 0, 1.0f, false, false}, {0, 1, 1, 0, 0, -1.0f, false, true},
        {0, 0, 1, 1, 0, 1.0f, false, false}, {0, 0, 0, 1, 1, -1.0f, false, true},
        {0, 0, 0, 0, 1, 1.0f, false, false}, {0, 0, 0, 0, 1, 1.0f, true, true},
    };
    for (const auto& c : cases)
    {
        SlicePoint point = Cut(10);
        point.deleted = c.deleted;
        point.lockedOn = c.lockedOn;
        point.forceOff = c.forceOff;
        point.forceOn = c.forceOn;
        point.conditional = c.conditional;
        point.strength = c.strength;
        EXPECT_EQ(active(point, 1, c.include), c.expected)
            << int(c.deleted) << int(c.lockedOn) << int(c.forceOff) << int(c.forceOn)
            << int(c.conditional);
    }

    SlicePoint locked = Cut(10);
    locked.lockedOn = 1;
    for (uint32_t kind : {uint32_t(Marker), uint32_t(Detected), uint32_t(User)})
    {
        locked.kind = kind;
        EXPECT_TRUE(active(locked, 1, false));
        EXPECT_FALSE(active(locked, 0, false)) << "kind " << kind;
    }
    locked.kind = 7;
    EXPECT_FALSE(active(locked, 1, false));
}

TEST(Loop, SlicesAroundActiveCuts)
{
    TestSource source(88200);
    Loop loop;
    SlicePoint inactive = Cut(40000);
    inactive.forceOff = 1;
    Install(loop, source, {Cut(1000), inactive}, 240.0f);
    EXPECT_EQ(Spans(loop), (Spanned{{0, 1000}, {1000, 88200}}));
    EXPECT_EQ(loop.GetRenderSlices()[1].outputStart, 1000u);

    Install(loop, source, {Cut(0), Cut(1000)}, 120.0f); // a cut at the region start adds nothing
    EXPECT_EQ(Spans(loop), (Spanned{{0, 1000}, {1000, 88200}}));
    EXPECT_EQ(loop.GetRenderSlices()[0].outputStart, 0u);
    EXPECT_EQ(loop.GetRenderSlices()[1].outputStart, 2000u); // 1000 * 176399 / 88199 = 2000.01

    loop.SetAll(Cuts({Cut(1000), Cut(500), Cut(3000), Cut(90000)}, 500, 5000), Tempo(120), {},
                false);
    EXPECT_EQ(Spans(loop), (Spanned{{500, 1000}, {1000, 3000}, {3000, 5000}}));

    loop.SetAll(Cuts({}, 0, 88200), Tempo(120), {}, false);
    EXPECT_TRUE(loop.GetRenderSlices().empty());
}

TEST(Loop, FindSliceAroundAtTheEdges)
{
    TestSource source(88200);
    Loop loop;
    SlicePoint deleted = Cut(3000);
    deleted.deleted = 1;
    Install(loop, source, {Cut(1000), deleted, Cut(5000)}, 240.0f);
    auto around = [&](uint32_t frame, uint32_t limit)
    {
        uint32_t start = 1, length = 1;
        loop.FindSliceAround(frame, limit, start, length);
        return std::make_pair(start, length);
    };
    EXPECT_EQ(around(0, 88200), std::make_pair(0u, 1000u));
    EXPECT_EQ(around(999, 88200), std::make_pair(0u, 1000u));
    EXPECT_EQ(around(1000, 88200), std::make_pair(1000u, 4000u));
    EXPECT_EQ(around(88199, 88200), std::make_pair(5000u, 83200u));
    EXPECT_EQ(around(90000, 100000), std::make_pair(88200u, 11800u));
    EXPECT_EQ(around(6000, 3000), std::make_pair(5000u, 0u)); // limit before the cut

    loop.SetAll(Cuts({Cut(1000)}, 200, 88200), Tempo(240), {}, false);
    EXPECT_EQ(around(100, 88200), std::make_pair(0u, 200u));
    EXPECT_EQ(around(300, 88200), std::make_pair(200u, 800u));
}

TEST(Loop, OutputToSourceAndTicks)
{
    TestSource source(88200);
    Loop loop;
    Install(loop, source, {}, 120.0f);
    EXPECT_EQ(loop.OutputToSource(0, 0.0f), 0u);
    EXPECT_EQ(loop.OutputToSource(176399, 0.0f), 88199u);
    EXPECT_EQ(loop.OutputToSource(88200, 0.0f), 44100u); // 88200 * 88199 / 176399 = 44099.75
    EXPECT_EQ(loop.OutputToSource(500000, 0.0f), 88199u);
    EXPECT_EQ(loop.OutputToSource(1000, 240.0f), 1000u);
    EXPECT_EQ(loop.OutputToSource(88199, 240.0f), 88199u);

    EXPECT_EQ(loop.TicksToOutput(96.0f, 0.0f), 22050u); // one beat at 120 BPM
    EXPECT_EQ(loop.TicksToOutput(96.0f, 240.0f), 11025u);
    EXPECT_EQ(loop.TicksToOutput(-96.0f, 240.0f), 0u);
    EXPECT_EQ(loop.TicksToOutput(NaN, 240.0f), 0u);

    MeterSettings noTicks = Tempo(120);
    noTicks.ticksPerBeat = 0;
    loop.SetMeter(noTicks);
    EXPECT_EQ(loop.TicksToOutput(96.0f, 0.0f), 0u);

    loop.SetMeter(Tempo(0)); // no target tempo: no output length, positions pass through
    EXPECT_EQ(loop.GetOutputLength(), 0u);
    EXPECT_EQ(loop.OutputToSource(1234, 0.0f), 1234u);
    EXPECT_EQ(loop.TicksToOutput(96.0f, NaN), 0u);

    loop.SetAll(Cuts({}, 0, 0), Tempo(120), {}, false);
    EXPECT_EQ(loop.OutputToSource(1234, 0.0f), 0u);
    EXPECT_EQ(loop.TicksToOutput(96.0f, 120.0f), 0u);
}

TEST(Loop, OutputRateChangesLengthAndTiming)
{
    TestSource source(88200);
    Loop loop;
    Install(loop, source, {Cut(44100)}, 240.0f);
    loop.SetOutputSampleRate(88200.0f);
    EXPECT_EQ(loop.EffectiveSampleRate(), 88200.0f);
    EXPECT_EQ(loop.GetOutputLength(), 176400u);
    EXPECT_EQ(loop.GetRenderSlices()[1].outputStart, 88201u); // 44100 * 176399 / 88199 = 88200.5
    EXPECT_EQ(loop.TicksToOutput(96.0f, 120.0f), 44100u);
    EXPECT_DOUBLE_EQ(loop.GetRenderSlices()[0].initialRate, 0.5);

    loop.SetOutputSampleRate(NaN); // not a rate: the source's rate is used
    EXPECT_EQ(loop.EffectiveSampleRate(), 44100.0f);
    EXPECT_EQ(loop.GetOutputLength(), 88200u);
}

TEST(Loop, OutputLengthIsSinglePrecision)
{
    TestSource source(1000);
    Loop loop;
    loop.SetSource(&source.audio, false);
    MeterSettings meter = Tempo(100.0f);
    meter.fixedTempo = 100.0f; // stretch exactly 1
    // 20 000 001 is not a float; it ties to the even neighbour 20 000 000.
    loop.SetAll(Cuts({}, 0, 20000001), meter, {}, false);
    EXPECT_FLOAT_EQ(loop.GetStretchRatio(), 1.0f);
    EXPECT_EQ(loop.GetOutputLength(), 20000000u);
}

TEST(Loop, AnalyseFalseKeepsTheSlices)
{
    TestSource source(88200), other(1000, 2, 48000);
    Loop loop;
    Install(loop, source, {Cut(1000)}, 240.0f);
    const auto before = Spans(loop);
    loop.SetSource(&other.audio, false);
    EXPECT_EQ(loop.GetSource(), &other.audio);
    EXPECT_EQ(Spans(loop), before);
    EXPECT_EQ(loop.GetOutputLength(), 88200u);
}

TEST(Loop, PinnedSlicesTakeTheirTickPositionAndStretch)
{
    TestSource source(88200);
    Loop loop;
    ShapingSettings shaping;
    shaping.tailExtension = 0.5f;
    // At 120 BPM one beat (96 ticks) is 22050 output frames.
    Install(loop, source, {Cut(0), Cut(22050, 96.0f), Cut(44100)}, 120.0f, shaping);
    const auto& slices = loop.GetRenderSlices();
    ASSERT_EQ(slices.size(), 3u);
    EXPECT_EQ(loop.GetSlicePoints().points[1].outputPosition, 22050u);
    EXPECT_EQ(slices[0].pinned, 0);
    EXPECT_EQ(slices[1].pinned, 1);
    EXPECT_EQ(slices[1].outputStart, 22050u); // unpinned it would sit at 44100
    EXPECT_EQ(slices[2].outputStart, 88201u);
    // Unpinned 500 ms in a 1000 ms slot: release 20 + 250 ms. Pinned at ratio 1: no gap to fill.
    EXPECT_EQ(slices[0].gateRelease, 11907u);
    EXPECT_EQ(slices[0].gateHold, 21159u);
    EXPECT_EQ(slices[1].gateRelease, 882u);
    EXPECT_EQ(slices[1].gateHold, 21159u);
    EXPECT_EQ(slices[2].gateRelease, 22932u);
    EXPECT_EQ(slices[2].gateHold, 43209u);

    // Pinned at the very start, it borrows the ratio of the slice after it (22050 / 22050).
    Install(loop, source, {Cut(0, 0.0f), Cut(22050, 96.0f)}, 120.0f, shaping);
    EXPECT_EQ(loop.GetRenderSlices()[0].pinned, 1);
    EXPECT_EQ(loop.GetRenderSlices()[0].gateRelease, 882u);
    Install(loop, source, {Cut(0, 0.0f)}, 120.0f, shaping); // alone: ratio 1, not the loop's 2
    EXPECT_EQ(loop.GetRenderSlices()[0].gateRelease, 882u);

    // The first slice is pinned by point 0 even when that point is deleted and before the region.
    SlicePoint early = Cut(500, 96.0f);
    early.deleted = 1;
    loop.SetAll(Cuts({early, Cut(30000)}, 1000, 88200), Tempo(120), shaping, false);
    EXPECT_EQ(Spans(loop), (Spanned{{1000, 30000}, {30000, 88200}}));
    EXPECT_EQ(loop.GetRenderSlices()[0].pinned, 1);
    EXPECT_EQ(loop.GetRenderSlices()[0].outputStart, 22050u);
    EXPECT_EQ(loop.GetOutputLength(), 176400u); // 8 beats at 120 BPM, whatever the region
    EXPECT_EQ(loop.GetRenderSlices()[1].outputStart, 58665u); // 29000 * 176399 / 87199
}

TEST(Loop, ShapingOfEverySlice)
{
    TestSource source(88200);
    Loop loop;
    ShapingSettings shaping;
    shaping.attackMs = 10.0f;
    shaping.holdMs = 0.5f;
    shaping.sustainLevel = 0.25f;
    shaping.tailFromSoundEnd = 0;
    shaping.tailLoopPosition = 0.5f;
    shaping.semitones = 12.0f;
    Install(loop, source, {Cut(1000)}, 240.0f, shaping);
    const RenderSlice& first = loop.GetRenderSlices()[0];
    EXPECT_EQ(first.ampAttack, 441u);
    EXPECT_EQ(first.ampHold, 22u); // 22.05
    EXPECT_EQ(first.ampSustain, 0.25f);
    EXPECT_EQ(first.tailLoopStart, 500u);
    EXPECT_EQ(first.tailCrossfade, 220u);
    EXPECT_DOUBLE_EQ(first.initialRate, 2.0);

    shaping.tailLoopPosition = 1.0f;
    shaping.semitones = 0.0f;
    shaping.cents = -1200.0f;
    loop.SetShaping(shaping);
    EXPECT_EQ(loop.GetRenderSlices()[0].tailLoopStart, 0u);
    EXPECT_DOUBLE_EQ(loop.GetRenderSlices()[0].initialRate, 0.5);

    shaping.tailFromSoundEnd = 1; // silent audio: the sound ends where the slice starts
    loop.SetShaping(shaping);
    EXPECT_EQ(loop.GetRenderSlices()[1].soundEnd, 1000u);
    EXPECT_EQ(loop.GetRenderSlices()[1].tailLoopStart, 0u);

    TestSource fast(96000, 1, 48000);
    Install(loop, fast, {Cut(48000)}, 120.0f);
    EXPECT_EQ(loop.GetRenderSlices()[0].tailCrossfade, 240u); // 239.99999
}

TEST(Loop, ManyPointsRebuildInLinearTime)
{
    constexpr uint32_t count = 300000;
    TestSource source(count + 1);
    std::vector<SlicePoint> points;
    for (uint32_t i = count; i >= 1; --i) // descending: every cut after the first lies behind it
    {
        points.push_back(Cut(i));
    }
    Loop loop;
    Install(loop, source, std::move(points), 120.0f);
    EXPECT_EQ(Spans(loop), (Spanned{{0, count}, {count, count + 1}}));

    std::vector<SlicePoint> sorted;
    for (uint32_t i = 1; i <= count; ++i)
    {
        sorted.push_back(Cut(i));
    }
    Install(loop, source, std::move(sorted), 120.0f);
    EXPECT_EQ(loop.GetRenderSlices().size(), count + 1);
    ExpectSliceInvariants(loop);
}

class LoopHostileValue : public ::testing::TestWithParam<float>
{
};

TEST_P(LoopHostileValue, EverySetterKeepsTheSlicesValid)
{
    const float value = GetParam();
    TestSource source(20000, 2);
    for (uint32_t i = 0; i < 20000; ++i)
    {
        source.data[1][i] = std::sin(0.01f * float(i)) * float(20000 - i) / 20000.0f;
    }
    std::vector<SlicePoint> points = {Cut(0), Cut(3000, value), Cut(9000), Cut(15000, 48.0f)};
    points[2].strength = value;
    points[2].forceOn = 0;
    Loop loop;
    Install(loop, source, points, 120.0f);

    auto check = [&](const char* what)
    {
        SCOPED_TRACE(what);
        ExpectSliceInvariants(loop);
        loop.OutputToSource(uint32_t(-1), value);
        loop.TicksToOutput(value, value);
        uint32_t start = 0, length = 0;
        loop.FindSliceAround(uint32_t(-1), uint32_t(-1), start, length);
        EXPECT_LE(uint64_t(start) + length, uint64_t(uint32_t(-1)));
    };

    MeterSettings meter = Tempo(value);
    loop.SetMeter(meter);
    check("tempo");
    meter = Tempo(120.0f);
    meter.fixedTempo = value;
    loop.SetMeter(meter);
    check("fixed tempo");
    for (float ShapingSettings::*field :
         {&ShapingSettings::attackMs, &ShapingSettings::holdMs, &ShapingSettings::decayMs,
          &ShapingSettings::sustainLevel, &ShapingSettings::tailExtension,
          &ShapingSettings::tailLoopPosition, &ShapingSettings::semitones, &ShapingSettings::cents,
          &ShapingSettings::gainDb})
    {
        ShapingSettings shaping;
        shaping.tailFromSoundEnd = 0;
        shaping.*field = value;
        loop.SetShaping(shaping);
        check("shaping");
    }
    SlicePoints sensitive = Cuts(points, 0, 20000);
    sensitive.sensitivity = value;
    loop.SetAll(sensitive, Tempo(120.0f), {}, false);
    check("sensitivity");
    loop.SetOutputSampleRate(value);
    check("output rate");
    loop.SetDetectionWindow(value);
    check("detection window");

    meter = Tempo(120.0f);
    meter.ticksPerBeat = value > 1.0f ? uint32_t(-1) : 0u;
    meter.bars = uint32_t(-1);
    meter.beatsPerBar = uint32_t(-1);
    loop.SetMeter(meter);
    check("meter extremes");
    loop.SetAll(Cuts(points, 15000, 3000), Tempo(120.0f), {}, false); // end before start
    EXPECT_TRUE(loop.GetRenderSlices().empty());
    points.push_back(Cut(4000000000u));
    loop.SetAll(Cuts(points, 100, 4100000000u), Tempo(120.0f), {}, false); // far past the audio
    check("region past the source");
}

INSTANTIATE_TEST_SUITE_P(Values, LoopHostileValue,
                         ::testing::Values(NaN, Inf, -Inf, -1.0f, 0.0f, 1e-40f, 0.5f, 1e30f, -1e30f,
                                           std::numeric_limits<float>::max()));
