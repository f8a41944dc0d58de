#include "dsp/marrowlin/LoopRenderer.h"

#include "dsp/marrowlin/Loop.h"
#include "dsp/marrowlin/SliceRenderer.h"
#include "tests/dsp/marrowlin/LoopInputs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <tuple>
#include <vector>

using namespace DSP::Marrowlin;

namespace
{

// A mono 44.1 kHz loop, fixed at 120 BPM, whose slices hold the levels 0.5, 0.25, 0.125, ...
struct Fixture
{
    Fixture(uint32_t frames, std::vector<uint32_t> cuts, float tempo, float firstTick = -1.0f,
            const ShapingSettings& shaping = {.tailFromSoundEnd = 0})
        : audio(frames)
    {
        std::vector<SlicePoint> points;
        for (uint32_t j = 0; j < frames; ++j)
        {
            if (points.size() < cuts.size() && j == cuts[points.size()])
                points.push_back(Cut(j));
            audio.data[0][j] = std::ldexp(0.5f, -int(points.size()));
        }
        points[0].tickPosition = firstTick;
        meter.tempo = tempo;
        loop.SetSource(&audio.audio, false);
        loop.SetAll(Cuts(points, 0, frames), meter, shaping, false);
        renderer.SetSource(&audio.audio);
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

    PlanarSource audio;
    Loop loop;
    MeterSettings meter{.fixedTempo = 120.0f};
    LoopRenderer renderer{&loop};
};

} // namespace

TEST(LoopRenderer, BlockIsSplitAtASliceBoundary)
{
    // Slices at output 0 and 300; the first one's gate closes 66 frames (1.5 ms) after its slot.
    Fixture f(2000, {600}, 240.0f);
    f.renderer.PlayLoop();
    const std::vector<float> out = f.Render(512);
    EXPECT_EQ(f.renderer.GetVoice(0).GetSliceStart(), 0u);
    EXPECT_EQ(f.renderer.GetVoice(1).GetSliceStart(), 600u);
    EXPECT_EQ(f.renderer.GetNextVoice(), 0u);
    EXPECT_EQ(f.renderer.GetPlayPosition(), 600u + 212u); // the latest voice reports
    EXPECT_EQ(out[300], 0.5f);
    EXPECT_NEAR(out[365], 0.5f / 66.0f + 0.25f, 1e-6);
    EXPECT_EQ(out[366], 0.25f); // first voice closed
    EXPECT_EQ(out[511], 0.25f);
}

// A resync keeps the play position at its fraction of the loop; an audition plays one slice, ends
// with a resync, and of a start that is no slice's only stops the voices.
TEST(LoopRenderer, ResyncAuditionStopAndRestart)
{
    Fixture f(1000, {250, 750}, 120.0f);
    f.renderer.PlayLoop();
    f.Render(500);
    f.SetTempo(60.0f);                          // 1000 -> 2000 output frames
    EXPECT_EQ(f.renderer.GetPosition(), 1000u); // 0.5 * 1999 = 999.5, away from zero
    EXPECT_EQ(f.renderer.GetNextSlice(), 2u);   // the slice at output 1501
    f.Render(900); // past the last slice the next trigger is slice 0 at the top
    f.SetTempo(120.0f);
    EXPECT_EQ(f.renderer.GetPosition(), 949u); // 0.95 * 999 = 949.05
    EXPECT_EQ(f.renderer.GetNextSlice(), 0u);

    f.renderer.AuditionSlice(250, 500);
    EXPECT_EQ(f.Render(600)[200], 0.25f);
    f.renderer.AuditionSlice(750, 250);
    EXPECT_EQ(f.renderer.GetMode(), LoopRendererMode::Audition);
    f.renderer.Resync();
    EXPECT_FALSE(f.renderer.GetPlayPosition().has_value());

    f.renderer.PlayLoop();
    f.Render(300);
    f.renderer.AuditionSlice(123, 10);
    EXPECT_EQ(f.renderer.GetMode(), LoopRendererMode::LoopPlayback);
    EXPECT_EQ(f.renderer.GetPosition(), 0u);
    EXPECT_FALSE(f.renderer.GetVoice(0).IsActive() || f.renderer.GetVoice(1).IsActive());

    f.Render(600);
    f.renderer.Stop();
    EXPECT_FALSE(f.renderer.GetPlayPosition().has_value());
    f.renderer.PlayLoop();
    EXPECT_FALSE(f.renderer.GetVoice(0).IsActive() || f.renderer.GetVoice(1).IsActive());
    EXPECT_EQ(f.Render(100)[50], 0.5f);
    EXPECT_EQ(f.renderer.GetVoice(0).GetSliceStart(), 0u);
    EXPECT_EQ(f.renderer.GetNextVoice(), 1u);
}

TEST(LoopRenderer, RunsAtOutputZeroAndAnEmptyTimeline)
{
    // Pinned at tick 0, the first two slices both take output 0: only the second plays.
    Fixture f(1000, {300, 600}, 120.0f, 0.0f);
    f.renderer.PlayLoop();
    EXPECT_EQ(f.Render(200)[150], 0.25f);
    EXPECT_EQ(f.renderer.GetVoice(0).GetSliceStart(), 300u);
    EXPECT_EQ(f.renderer.GetNextSlice(), 2u);

    f.SetTempo(0.0f); // the Loop keeps its slices but has no output length
    EXPECT_EQ(f.Render(256), std::vector<float>(256, 0.0f));
    f.renderer.Stop();
    f.renderer.PlayLoop(); // refused
    EXPECT_EQ(f.renderer.GetMode(), LoopRendererMode::Idle);
}

// A gain, sustain, transposition or fine tune that is NaN or absurd silences the slices it
// reaches; a sane value brings the sound back with the next slice. (Finite output and the play
// position under such values are the host simulation's checks.)
TEST(LoopRenderer, UnusableShapingSilencesSlicesAndNothingElse)
{
    using S = ShapingSettings;
    // field, value, whether the slices started under the value are silent
    const std::tuple<float S::*, float, bool> cases[] = {
        {&S::gainDb, NAN, true},          {&S::gainDb, INFINITY, true},
        {&S::gainDb, 200.0f, true},       {&S::sustainLevel, NAN, true},
        {&S::sustainLevel, -1e30f, true}, {&S::semitones, INFINITY, true},
        {&S::semitones, NAN, true},       {&S::semitones, 1000.0f, false},
        {&S::cents, -INFINITY, true},
    };
    for (const auto& [field, value, silent] : cases)
    {
        // The sustain level applies from frame 44 of each slice.
        Fixture f(4000, {1000, 2000, 3000}, 120.0f, -1.0f,
                  {.decayMs = 1.0f, .sustainLevel = 0.5f, .tailFromSoundEnd = 0});
        f.renderer.PlayLoop();
        f.Render(500);

        const ShapingSettings sane = f.loop.GetShapingSettings();
        ShapingSettings shaping = sane;
        shaping.*field = value;
        f.loop.SetShaping(shaping);
        f.renderer.Resync();
        const std::vector<float> bad = f.Render(1500); // slice 1 starts at 500 in this block
        const bool quiet =
            std::all_of(bad.begin() + 500, bad.end(), [](float v) { return v == 0; });
        EXPECT_TRUE(quiet || !silent) << value;

        f.loop.SetShaping(sane);
        f.renderer.Resync();
        const std::vector<float> healed = f.Render(1000); // slice 2 from frame 0 on
        EXPECT_EQ(healed[100], 0.125f * 0.5f) << value;   // its level at the sustain
    }
}
