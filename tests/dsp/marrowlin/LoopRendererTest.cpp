#include "dsp/marrowlin/LoopRenderer.h"

#include "dsp/marrowlin/Loop.h"
#include "dsp/marrowlin/SliceRenderer.h"

#include <gtest/gtest.h>

#include <vector>

using DSP::Marrowlin::Loop;
using DSP::Marrowlin::LoopRenderer;
using DSP::Marrowlin::LoopRendererMode;
using DSP::Marrowlin::MeterSettings;
using DSP::Marrowlin::ShapingSettings;
using DSP::Marrowlin::SlicePoint;
using DSP::Marrowlin::SlicePoints;
using DSP::Marrowlin::SourceAudio;

namespace
{

// A mono 44.1 kHz loop cut by host points. Every slice holds its own constant level (0.5 for
// the first, 0.25 for the next, then 0.125, ...), so the output tells which slice sounds where.
// Slices play without a tail loop and the loop's own tempo is fixed at 120 BPM, so a target
// tempo of 120 leaves the timeline unstretched.
struct Fixture
{
    Fixture(uint32_t frames, std::vector<uint32_t> cuts, float tempo, std::vector<float> ticks = {})
        : samples(frames)
    {
        float level = 0.5f;
        for (uint32_t j = 0, next = 0; j < frames; ++j)
        {
            if (next < cuts.size() && j == cuts[next])
            {
                level *= 0.5f;
                ++next;
            }
            samples[j] = level;
        }
        pointer = samples.data();
        source.sampleRate = 44100;
        source.channelCount = 1;
        source.frameCount = frames;
        source.channels = &pointer;
        loop.SetSource(&source, false);

        points.useUser = 1;
        points.regionEnd = frames;
        for (size_t i = 0; i < cuts.size(); ++i)
        {
            SlicePoint point;
            point.position = cuts[i];
            point.sourcePosition = cuts[i];
            point.forceOn = 1;
            if (i < ticks.size())
                point.tickPosition = ticks[i];
            points.points.push_back(point);
        }
        meter.fixedTempo = 120.0f;
        meter.tempo = tempo;
        shaping.tailFromSoundEnd = 0;
        shaping.tailLoopPosition = 0.0f;
        loop.SetAll(points, meter, shaping, false);
        renderer.SetSource(&source);
    }

    void SetTempo(float tempo)
    {
        meter.tempo = tempo;
        loop.SetMeter(meter);
        renderer.Resync();
    }

    std::vector<float> Render(uint32_t frames)
    {
        std::vector<float> out(frames, 0.0f);
        float* channels[1] = {out.data()};
        renderer.Render(frames, channels);
        return out;
    }

    uint32_t OutputStart(uint32_t slice) const { return loop.GetRenderSlices()[slice].outputStart; }

    std::vector<float> samples;
    float* pointer = nullptr;
    SourceAudio source;
    Loop loop;
    SlicePoints points;
    MeterSettings meter;
    ShapingSettings shaping;
    LoopRenderer renderer{&loop};
};

} // namespace

TEST(LoopRenderer, StartsIdleAndPlaysFromTheRegionStart)
{
    Fixture f(2000, {600}, 120.0f);
    EXPECT_EQ(f.renderer.GetMode(), LoopRendererMode::Idle);
    EXPECT_FALSE(f.renderer.GetPlayPosition().has_value());
    EXPECT_EQ(f.renderer.GetLoopLength(), 2000u);
    EXPECT_EQ(f.Render(64), std::vector<float>(64, 0.0f));

    f.renderer.PlayLoop();
    EXPECT_EQ(f.renderer.GetMode(), LoopRendererMode::LoopPlayback);
    EXPECT_EQ(f.renderer.GetPlayPosition(), 0u);
}

TEST(LoopRenderer, BlockIsSplitAtASliceBoundary)
{
    // The target tempo is twice the loop's: slices at source 0 and 600 land at output 0 and 300.
    // The first slice overruns its 300-frame slot, so its gate stays open 66 frames (1.5 ms)
    // past it while the second slice starts on the other voice.
    Fixture f(2000, {600}, 240.0f);
    ASSERT_EQ(f.renderer.GetLoopLength(), 1000u);
    ASSERT_EQ(f.OutputStart(1), 300u);
    f.renderer.PlayLoop();
    const std::vector<float> out = f.Render(512);

    EXPECT_EQ(f.renderer.GetVoice(0).GetSliceStart(), 0u);
    EXPECT_EQ(f.renderer.GetVoice(1).GetSliceStart(), 600u);
    EXPECT_EQ(f.renderer.GetPosition(), 512u);
    EXPECT_EQ(f.renderer.GetNextSlice(), 0u);
    EXPECT_EQ(f.renderer.GetNextVoice(), 0u);
    // The latest voice reports: the second slice has played 212 frames.
    EXPECT_EQ(f.renderer.GetPlayPosition(), 600u + 212u);

    EXPECT_EQ(out[0], 0.0f); // gates open from 0
    EXPECT_EQ(out[150], 0.5f);
    EXPECT_EQ(out[299], 0.5f);
    EXPECT_EQ(out[300], 0.5f); // first voice still fully open, second at the start of its attack
    EXPECT_NEAR(out[333], 0.5f * 0.5f + 0.25f, 1e-6);
    EXPECT_NEAR(out[365], 0.5f / 66.0f + 0.25f, 1e-6);
    EXPECT_EQ(out[366], 0.25f); // first voice closed
    EXPECT_EQ(out[511], 0.25f);
    for (uint32_t j = 301; j < 366; ++j)
        EXPECT_GT(out[j], 0.25f) << j;
}

TEST(LoopRenderer, TimelineWrapsAndRetriggersSliceZero)
{
    Fixture f(1000, {250, 750}, 120.0f);
    f.renderer.PlayLoop();
    std::vector<float> out;
    for (int block = 0; block < 5; ++block)
    {
        const std::vector<float> part = f.Render(400);
        out.insert(out.end(), part.begin(), part.end());
    }
    // Mid-slice levels of each pass.
    for (uint32_t pass = 0; pass < 2; ++pass)
    {
        EXPECT_EQ(out[pass * 1000 + 100], 0.5f) << pass;
        EXPECT_EQ(out[pass * 1000 + 500], 0.25f) << pass;
        EXPECT_EQ(out[pass * 1000 + 900], 0.125f) << pass;
    }
    EXPECT_EQ(f.renderer.GetPosition(), 0u);
    EXPECT_EQ(f.renderer.GetNextSlice(), 0u);
}

TEST(LoopRenderer, ResyncKeepsTheFractionOfTheLoop)
{
    Fixture f(1000, {250, 750}, 120.0f);
    f.renderer.PlayLoop();
    f.Render(500);
    ASSERT_EQ(f.renderer.GetPosition(), 500u);
    f.SetTempo(60.0f); // 1000 -> 2000 output frames
    EXPECT_EQ(f.renderer.GetLoopLength(), 2000u);
    EXPECT_EQ(f.renderer.GetPosition(), 1000u); // 0.5 * 1999 = 999.5, rounded away from zero
    EXPECT_EQ(f.OutputStart(1), 500u);
    EXPECT_EQ(f.OutputStart(2), 1501u);
    EXPECT_EQ(f.renderer.GetNextSlice(), 2u);
    EXPECT_EQ(f.renderer.GetMode(), LoopRendererMode::LoopPlayback);

    // The second slice plays out the 250 frames left of its gate; the third starts exactly 501
    // frames later, at the start of its attack.
    const std::vector<float> out = f.Render(600);
    EXPECT_EQ(f.renderer.GetVoice(0).GetSliceStart(), 750u);
    EXPECT_EQ(out[100], 0.25f);
    EXPECT_EQ(out[250], 0.0f);
    EXPECT_EQ(out[501], 0.0f);
    EXPECT_GT(out[502], 0.0f);
    EXPECT_EQ(out[599], 0.125f);
}

TEST(LoopRenderer, ResyncPastTheLastSliceWaitsForTheTop)
{
    Fixture f(1000, {250, 750}, 120.0f);
    f.renderer.PlayLoop();
    f.Render(900);
    f.renderer.Resync(); // same length: 0.9 * 999 = 899.1
    EXPECT_EQ(f.renderer.GetPosition(), 899u);
    EXPECT_EQ(f.renderer.GetNextSlice(), 0u);
}

TEST(LoopRenderer, PositionZeroTriggersWhateverIsNext)
{
    Fixture f(1000, {250, 750}, 120.0f);
    f.renderer.PlayLoop();
    f.Render(900);
    f.renderer.Stop();
    f.renderer.Resync(); // from position 0: the first slice at or after it
    f.renderer.PlayLoop();
    f.Render(10);
    EXPECT_EQ(f.renderer.GetVoice(0).GetSliceStart(), 0u);
    EXPECT_FALSE(f.renderer.GetVoice(1).IsActive());
}

TEST(LoopRenderer, StopThenPlayRestartsFromSliceZeroOnVoiceZero)
{
    Fixture f(1000, {250, 750}, 120.0f);
    f.renderer.PlayLoop();
    f.Render(600);
    EXPECT_TRUE(f.renderer.GetVoice(1).IsActive());
    f.renderer.Stop();
    EXPECT_EQ(f.renderer.GetMode(), LoopRendererMode::Idle);
    EXPECT_EQ(f.renderer.GetPosition(), 0u);
    EXPECT_FALSE(f.renderer.GetPlayPosition().has_value());
    EXPECT_EQ(f.Render(32), std::vector<float>(32, 0.0f));

    f.renderer.PlayLoop();
    EXPECT_FALSE(f.renderer.GetVoice(0).IsActive());
    EXPECT_FALSE(f.renderer.GetVoice(1).IsActive());
    EXPECT_EQ(f.renderer.GetNextSlice(), 0u);
    EXPECT_EQ(f.renderer.GetNextVoice(), 0u);
    const std::vector<float> out = f.Render(100);
    EXPECT_EQ(f.renderer.GetVoice(0).GetSliceStart(), 0u);
    EXPECT_EQ(out[50], 0.5f);
}

TEST(LoopRenderer, AuditionPlaysOneSliceThenGoesIdle)
{
    Fixture f(1000, {250, 750}, 120.0f);
    f.renderer.AuditionSlice(250, 500);
    EXPECT_EQ(f.renderer.GetMode(), LoopRendererMode::Audition);
    EXPECT_EQ(f.renderer.GetPlayPosition(), 250u);
    const std::vector<float> out = f.Render(400);
    EXPECT_EQ(out[200], 0.25f);
    EXPECT_EQ(f.renderer.GetPlayPosition(), 650u);
    f.Render(200); // the gate closes 500 frames in
    EXPECT_EQ(f.renderer.GetMode(), LoopRendererMode::Idle);
    EXPECT_FALSE(f.renderer.GetPlayPosition().has_value());
}

TEST(LoopRenderer, ResyncEndsAnAudition)
{
    Fixture f(1000, {250, 750}, 120.0f);
    f.renderer.AuditionSlice(750, 250);
    f.Render(10);
    f.renderer.Resync();
    EXPECT_EQ(f.renderer.GetMode(), LoopRendererMode::Idle);
    EXPECT_FALSE(f.renderer.GetPlayPosition().has_value());
    EXPECT_TRUE(f.renderer.GetVoice(0).IsActive()); // the voices are left alone
}

TEST(LoopRenderer, AuditionOfAnUnknownStartOnlyStopsTheVoices)
{
    Fixture f(1000, {250, 750}, 120.0f);
    f.renderer.PlayLoop();
    f.Render(300);
    f.renderer.AuditionSlice(123, 10);
    EXPECT_EQ(f.renderer.GetMode(), LoopRendererMode::LoopPlayback);
    EXPECT_EQ(f.renderer.GetPosition(), 0u);
    EXPECT_FALSE(f.renderer.GetVoice(0).IsActive());
    EXPECT_FALSE(f.renderer.GetVoice(1).IsActive());
}

TEST(LoopRenderer, OnlyTheLastOfARunAtOutputZeroPlays)
{
    // The first point is pinned at tick 0, so the first two slices both take output frame 0.
    Fixture f(1000, {300, 600}, 120.0f, {0.0f, -1.0f});
    ASSERT_EQ(f.loop.GetRenderSlices().size(), 3u);
    ASSERT_EQ(f.OutputStart(0), 0u);
    ASSERT_EQ(f.OutputStart(1), 0u);
    ASSERT_EQ(f.OutputStart(2), 600u);
    f.renderer.PlayLoop();
    const std::vector<float> out = f.Render(200);
    EXPECT_EQ(f.renderer.GetVoice(0).GetSliceStart(), 300u);
    EXPECT_EQ(f.renderer.GetNextSlice(), 2u);
    EXPECT_EQ(out[150], 0.25f);
}

TEST(LoopRenderer, ZeroLengthLoopPlaysSilence)
{
    Fixture f(1000, {250, 750}, 120.0f);
    f.renderer.PlayLoop();
    f.Render(100);
    f.SetTempo(0.0f); // the Loop keeps its slices but has no output length
    EXPECT_EQ(f.renderer.GetLoopLength(), 0u);
    EXPECT_EQ(f.renderer.GetMode(), LoopRendererMode::LoopPlayback);
    EXPECT_EQ(f.Render(256), std::vector<float>(256, 0.0f));

    f.renderer.Stop();
    f.renderer.PlayLoop(); // refused
    EXPECT_EQ(f.renderer.GetMode(), LoopRendererMode::Idle);
}

TEST(LoopRenderer, LoopWithoutSlicesIsIdle)
{
    Fixture f(1000, {}, 120.0f);
    f.points.points.clear();
    f.points.regionEnd = 0;
    f.loop.SetAll(f.points, f.meter, f.shaping, false);
    f.renderer.PlayLoop();
    f.renderer.Resync();
    EXPECT_EQ(f.renderer.GetMode(), LoopRendererMode::Idle);
    EXPECT_EQ(f.Render(64), std::vector<float>(64, 0.0f));
}

TEST(LoopRenderer, NewSourceStopsPlayback)
{
    Fixture f(1000, {250, 750}, 120.0f);
    f.renderer.PlayLoop();
    f.Render(10);
    f.renderer.SetSource(&f.source);
    EXPECT_EQ(f.renderer.GetMode(), LoopRendererMode::Idle);
    EXPECT_FALSE(f.renderer.GetVoice(0).IsActive());
    f.renderer.SetSource(nullptr);
    f.renderer.AuditionSlice(0, 250); // no source: the voice refuses, nothing sounds
    EXPECT_EQ(f.Render(64), std::vector<float>(64, 0.0f));
}
