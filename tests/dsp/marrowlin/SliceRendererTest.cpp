#include "dsp/marrowlin/SliceRenderer.h"

#include "dsp/marrowlin/Loop.h"

#include <gtest/gtest.h>

#include <vector>

using DSP::Marrowlin::Loop;
using DSP::Marrowlin::RenderSlice;
using DSP::Marrowlin::ShapingSettings;
using DSP::Marrowlin::SliceRenderer;
using DSP::Marrowlin::SourceAudio;

namespace
{

// Stereo source at 44.1 kHz: the left channel holds 0.5 everywhere, the right -0.25.
struct Fixture
{
    explicit Fixture(uint32_t frames = 20000) : left(frames, 0.5f), right(frames, -0.25f)
    {
        pointers[0] = left.data();
        pointers[1] = right.data();
        source.sampleRate = 44100;
        source.channelCount = 2;
        source.frameCount = frames;
        source.channels = pointers;
        loop.SetSource(&source, false);
    }
    std::vector<float> left;
    std::vector<float> right;
    float* pointers[2];
    SourceAudio source;
    Loop loop;
};

struct Output
{
    Output(uint32_t frames, float fill) : left(frames, fill), right(frames, fill)
    {
        pointers[0] = left.data();
        pointers[1] = right.data();
    }
    std::vector<float> left;
    std::vector<float> right;
    float* pointers[2];
};

// A slice that plays at rate 1 without a tail, behind a gate that is fully open at once and
// stays open for `open` frames.
RenderSlice OpenSlice(uint32_t start, uint32_t length, uint32_t open)
{
    RenderSlice slice;
    slice.sourceStart = start;
    slice.sourceLength = length;
    slice.initialRate = 1.0;
    slice.tailLoopStart = length;
    slice.gateHold = open;
    return slice;
}

void SetShaping(Loop& loop, float semitones, float cents, float gainDb)
{
    ShapingSettings shaping;
    shaping.semitones = semitones;
    shaping.cents = cents;
    shaping.gainDb = gainDb;
    loop.SetShaping(shaping);
}

} // namespace

TEST(SliceRenderer, RefusesSlicesItCannotPlay)
{
    Fixture f(1000);
    SliceRenderer voice(&f.loop);
    voice.Start(OpenSlice(0, 100, 100)); // no source yet
    EXPECT_FALSE(voice.IsActive());

    voice.SetSource(&f.source);
    for (const RenderSlice& slice : {OpenSlice(0, 0, 100), OpenSlice(1000, 10, 100),
                                     OpenSlice(950, 51, 100), OpenSlice(10, 0xFFFFFFFFu, 100)})
    {
        voice.Start(slice);
        EXPECT_FALSE(voice.IsActive()) << slice.sourceStart << " " << slice.sourceLength;
        EXPECT_FALSE(voice.GetSliceStart().has_value());
    }
    voice.Start(OpenSlice(950, 50, 100)); // ends exactly at the last frame
    EXPECT_TRUE(voice.IsActive());
    EXPECT_EQ(voice.GetSliceStart(), 950u);
    EXPECT_EQ(voice.GetSliceLength(), 50u);

    // A refused slice leaves the output alone.
    voice.Start(OpenSlice(0, 0, 100));
    Output out(64, 3.0f);
    voice.Render(64, out.pointers, 0, nullptr);
    EXPECT_EQ(out.left, std::vector<float>(64, 3.0f));
}

TEST(SliceRenderer, ClosedGateMeansSilentAtOnce)
{
    Fixture f;
    SliceRenderer voice(&f.loop);
    voice.SetSource(&f.source);
    voice.Start(OpenSlice(0, 1000, 0));
    EXPECT_FALSE(voice.IsActive());
    EXPECT_TRUE(voice.GetSliceStart().has_value());
}

TEST(SliceRenderer, AddsTheSliceAtAnOffsetUntilTheGateCloses)
{
    Fixture f;
    SliceRenderer voice(&f.loop);
    voice.SetSource(&f.source);
    RenderSlice slice = OpenSlice(100, 1000, 50);
    slice.ampSustain = 0.1f; // amp lengths all 0: the level must not be applied
    voice.Start(slice);
    EXPECT_EQ(voice.GetGain(), 1.0f);
    Output out(100, 1.0f);
    uint32_t sink = 0;
    voice.Render(80, out.pointers, 20, &sink);
    for (uint32_t j = 0; j < 100; ++j)
    {
        const bool open = j >= 20 && j < 70;
        EXPECT_EQ(out.left[j], open ? 1.5f : 1.0f) << j;
        EXPECT_EQ(out.right[j], open ? 0.75f : 1.0f) << j;
    }
    EXPECT_EQ(sink, 100u + 80u); // the player ran on to the end of the block
    EXPECT_FALSE(voice.IsActive());
    voice.Render(10, out.pointers, 0, &sink);
    EXPECT_EQ(out.left[0], 1.0f);
    EXPECT_EQ(sink, 180u);
}

TEST(SliceRenderer, ShapesWithGateAndAmpAndGain)
{
    Fixture f;
    SetShaping(f.loop, 0.0f, 0.0f, -6.0f);
    SliceRenderer voice(&f.loop);
    voice.SetSource(&f.source);
    RenderSlice slice = OpenSlice(0, 5000, 0);
    slice.gateAttack = 4;
    slice.gateHold = 10;
    slice.gateRelease = 2;
    slice.ampDecay = 1;
    slice.ampSustain = 0.5f;
    voice.Start(slice);
    ASSERT_TRUE(voice.GetGain().has_value());
    EXPECT_NEAR(*voice.GetGain(), 0.501187, 1e-6);
    const float gain = *voice.GetGain();
    Output out(20, 0.0f);
    voice.Render(20, out.pointers, 0, nullptr);
    const float gate[20] = {0, 0.25f, 0.5f, 0.75f, 1, 1,    1, 1, 1, 1,
                            1, 1,     1,    1,     1, 0.5f, 0, 0, 0, 0};
    for (uint32_t j = 0; j < 20; ++j)
    {
        const float amp = j == 0 ? 1.0f : 0.5f;
        EXPECT_FLOAT_EQ(out.left[j], 0.5f * gate[j] * amp * gain) << j;
        EXPECT_FLOAT_EQ(out.right[j], -0.25f * gate[j] * amp * gain) << j;
    }
}

TEST(SliceRenderer, RateFollowsSampleRatesAndTransposition)
{
    Fixture f;
    SliceRenderer voice(&f.loop);
    voice.SetSource(&f.source);
    RenderSlice slice = OpenSlice(0, 1000, 100);
    slice.initialRate = 3.0;
    voice.Start(slice);
    EXPECT_EQ(voice.GetRate(), 3.0); // until the first UpdateRate
    voice.UpdateRate();
    EXPECT_EQ(voice.GetRate(), 1.0);

    SetShaping(f.loop, 12.0f, 0.0f, 0.0f);
    voice.UpdateRate();
    EXPECT_DOUBLE_EQ(voice.GetRate(), 2.0);

    SetShaping(f.loop, 0.0f, -1200.0f, 0.0f);
    voice.UpdateRate();
    EXPECT_DOUBLE_EQ(voice.GetRate(), 0.5);

    SetShaping(f.loop, 7.0f, 30.0f, 0.0f);
    voice.UpdateRate();
    EXPECT_NEAR(voice.GetRate(), 1.524497, 1e-6); // 2^(7.3 / 12)

    SetShaping(f.loop, 0.0f, 0.0f, 0.0f);
    f.loop.SetOutputSampleRate(22050.0f);
    voice.UpdateRate();
    EXPECT_DOUBLE_EQ(voice.GetRate(), 2.0);
}

TEST(SliceRenderer, UpdateRateWithoutSourceKeepsTheRate)
{
    Loop loop;
    SliceRenderer voice(&loop);
    voice.UpdateRate();
    EXPECT_EQ(voice.GetRate(), 0.0);
    SliceRenderer orphan(nullptr);
    orphan.UpdateRate();
    orphan.Render(16, nullptr, 0, nullptr);
    EXPECT_FALSE(orphan.IsActive());
}

TEST(SliceRenderer, GainOfZeroDecibelsIsUnity)
{
    Fixture f;
    SetShaping(f.loop, 0.0f, 0.0f, 0.0f);
    SliceRenderer voice(&f.loop);
    voice.SetSource(&f.source);
    voice.Start(OpenSlice(0, 10, 10));
    EXPECT_FLOAT_EQ(*voice.GetGain(), 1.0f);
    SetShaping(f.loop, 0.0f, 0.0f, 20.0f);
    voice.Start(OpenSlice(0, 10, 10)); // the gain is fixed at the start of a slice
    EXPECT_NEAR(*voice.GetGain(), 10.0f, 1e-5f);
}

TEST(SliceRenderer, ResetAndNewSourceSilenceTheVoice)
{
    Fixture f;
    SliceRenderer voice(&f.loop);
    voice.SetSource(&f.source);
    voice.Start(OpenSlice(0, 100, 100));
    EXPECT_TRUE(voice.IsActive());
    voice.Reset();
    EXPECT_FALSE(voice.IsActive());
    EXPECT_FALSE(voice.GetGain().has_value());

    voice.Start(OpenSlice(0, 100, 100));
    voice.SetSource(&f.source);
    EXPECT_FALSE(voice.IsActive());
    voice.SetSource(nullptr);
    voice.Start(OpenSlice(0, 100, 100));
    EXPECT_FALSE(voice.IsActive());
}

TEST(SliceRenderer, LargeBlocksMatchSmallOnes)
{
    // A decaying ramp with a tail loop and a gate that closes well inside the big block.
    Fixture f(30000);
    for (uint32_t j = 0; j < 30000; ++j)
    {
        f.left[j] = static_cast<float>(j % 1000) / 1000.0f;
        f.right[j] = -f.left[j];
    }
    RenderSlice slice;
    slice.sourceStart = 1000;
    slice.sourceLength = 6000;
    slice.initialRate = 0.9;
    slice.tailLoopStart = 2500;
    slice.tailCrossfade = 220;
    slice.gateAttack = 9;
    slice.gateHold = 9000;
    slice.gateRelease = 300;
    slice.ampAttack = 50;
    slice.ampDecay = 2000;
    slice.ampSustain = 0.3f;

    SliceRenderer big(&f.loop);
    SliceRenderer small(&f.loop);
    big.SetSource(&f.source);
    small.SetSource(&f.source);
    big.Start(slice);
    small.Start(slice);
    Output whole(12000, 0.0f);
    Output pieces(12000, 0.0f);
    big.Render(12000, whole.pointers, 0, nullptr);
    for (uint32_t done = 0; done < 12000; done += 100)
        small.Render(100, pieces.pointers, done, nullptr);
    EXPECT_EQ(whole.left, pieces.left);
    EXPECT_EQ(whole.right, pieces.right);
    EXPECT_NE(whole.left[5000], 0.0f);
    for (uint32_t j = 9309; j < 12000; ++j)
        ASSERT_EQ(whole.left[j], 0.0f) << j;
}
