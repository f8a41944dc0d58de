#include "dsp/marrowlin/SliceRenderer.h"

#include "dsp/marrowlin/Loop.h"

#include <gtest/gtest.h>

#include <vector>

using DSP::Marrowlin::RenderSlice;
using DSP::Marrowlin::SliceRenderer;

namespace
{

// A stereo 44.1 kHz source holding 0.5 on the left and -0.25 on the right, and its Loop.
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
        voice.SetSource(&source);
    }
    void SetShaping(float semitones, float cents, float gainDb)
    {
        DSP::Marrowlin::ShapingSettings shaping;
        shaping.semitones = semitones;
        shaping.cents = cents;
        shaping.gainDb = gainDb;
        loop.SetShaping(shaping);
    }
    std::vector<float> left;
    std::vector<float> right;
    float* pointers[2];
    DSP::Marrowlin::SourceAudio source;
    DSP::Marrowlin::Loop loop;
    SliceRenderer voice{&loop};
};

// Plays at rate 1 without a tail, behind a gate that is fully open for `open` frames.
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

} // namespace

TEST(SliceRenderer, RefusesSlicesItCannotPlay)
{
    Fixture f(1000);
    SliceRenderer orphan(&f.loop); // no source
    orphan.Start(OpenSlice(0, 100, 100));
    EXPECT_FALSE(orphan.IsActive());
    for (const RenderSlice& slice : {OpenSlice(0, 0, 100), OpenSlice(1000, 10, 100),
                                     OpenSlice(950, 51, 100), OpenSlice(10, 0xFFFFFFFFu, 100)})
    {
        f.voice.Start(slice);
        EXPECT_FALSE(f.voice.IsActive()) << slice.sourceStart << "+" << slice.sourceLength;
    }
    f.voice.Start(OpenSlice(950, 50, 0)); // accepted, but a closed gate ends it at once
    EXPECT_EQ(f.voice.GetSliceStart(), 950u);
    EXPECT_FALSE(f.voice.IsActive());
    f.voice.Start(OpenSlice(950, 50, 100)); // ends exactly at the last frame
    EXPECT_TRUE(f.voice.IsActive());
    f.voice.SetSource(&f.source); // a new source stops the voice
    EXPECT_FALSE(f.voice.IsActive());

    std::vector<float> out(64, 3.0f);
    float* outputs[2] = {out.data(), out.data()};
    f.voice.Render(64, outputs, 0, nullptr); // an inactive voice adds nothing
    EXPECT_EQ(out, std::vector<float>(64, 3.0f));
}

TEST(SliceRenderer, AddsAtAnOffsetUntilTheGateCloses)
{
    Fixture f;
    RenderSlice slice = OpenSlice(100, 1000, 50);
    slice.ampSustain = 0.1f; // amp lengths all 0: the level is not applied
    f.voice.Start(slice);
    EXPECT_EQ(f.voice.GetGain(), 1.0f);
    std::vector<float> left(100, 1.0f);
    std::vector<float> right(100, 1.0f);
    float* outputs[2] = {left.data(), right.data()};
    uint32_t sink = 0;
    f.voice.Render(80, outputs, 20, &sink);
    for (uint32_t j = 0; j < 100; ++j)
    {
        const bool open = j >= 20 && j < 70;
        EXPECT_EQ(left[j], open ? 1.5f : 1.0f) << j;
        EXPECT_EQ(right[j], open ? 0.75f : 1.0f) << j;
    }
    EXPECT_EQ(sink, 180u); // the player ran on to the end of the block
    EXPECT_FALSE(f.voice.IsActive());
}

TEST(SliceRenderer, ShapesWithGateAmpAndGain)
{
    Fixture f;
    f.SetShaping(0.0f, 0.0f, -6.0f);
    RenderSlice slice = OpenSlice(0, 5000, 10);
    slice.gateAttack = 4;
    slice.gateRelease = 2;
    slice.ampDecay = 1;
    slice.ampSustain = 0.5f;
    f.voice.Start(slice);
    const float gain = f.voice.GetGain().value_or(0.0f);
    EXPECT_NEAR(gain, 0.501187, 1e-6);
    std::vector<float> left(20, 0.0f);
    std::vector<float> right(20, 0.0f);
    float* outputs[2] = {left.data(), right.data()};
    f.voice.Render(20, outputs, 0, nullptr);
    const float gate[20] = {0, 0.25f, 0.5f, 0.75f, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0.5f};
    for (uint32_t j = 0; j < 20; ++j)
    {
        const float amp = j == 0 ? 1.0f : 0.5f;
        EXPECT_FLOAT_EQ(left[j], 0.5f * gate[j] * amp * gain) << j;
        EXPECT_FLOAT_EQ(right[j], -0.25f * gate[j] * amp * gain) << j;
    }
    f.SetShaping(0.0f, 0.0f, 20.0f); // the gain is fixed when a slice starts
    EXPECT_NEAR(f.voice.GetGain().value_or(0.0f), 0.501187, 1e-6);
    f.voice.Start(slice);
    EXPECT_NEAR(f.voice.GetGain().value_or(0.0f), 10.0, 1e-5);
}

TEST(SliceRenderer, RateFollowsSampleRatesAndTransposition)
{
    Fixture f;
    RenderSlice slice = OpenSlice(0, 1000, 100);
    slice.initialRate = 3.0;
    f.voice.Start(slice);
    EXPECT_EQ(f.voice.GetRate(), 3.0); // until the first UpdateRate
    f.voice.UpdateRate();
    EXPECT_EQ(f.voice.GetRate(), 1.0);
    f.SetShaping(12.0f, 0.0f, 0.0f);
    f.voice.UpdateRate();
    EXPECT_DOUBLE_EQ(f.voice.GetRate(), 2.0);
    f.SetShaping(0.0f, -1200.0f, 0.0f);
    f.voice.UpdateRate();
    EXPECT_DOUBLE_EQ(f.voice.GetRate(), 0.5);
    f.SetShaping(7.0f, 30.0f, 0.0f);
    f.voice.UpdateRate();
    EXPECT_NEAR(f.voice.GetRate(), 1.524497, 1e-6); // 2^(7.3 / 12)
    f.SetShaping(0.0f, 0.0f, 0.0f);
    f.loop.SetOutputSampleRate(22050.0f);
    f.voice.UpdateRate();
    EXPECT_DOUBLE_EQ(f.voice.GetRate(), 2.0);

    DSP::Marrowlin::Loop empty; // no source: the rate stays
    SliceRenderer voice(&empty);
    voice.UpdateRate();
    EXPECT_EQ(voice.GetRate(), 0.0);
}

TEST(SliceRenderer, LargeBlocksMatchSmallOnes)
{
    // A ramp with a tail loop, both envelopes, and a gate that closes inside the big block.
    Fixture f(30000);
    for (uint32_t j = 0; j < 30000; ++j)
        f.right[j] = 0.5f * (f.left[j] = static_cast<float>(j % 1000) / 1000.0f);
    RenderSlice slice = OpenSlice(1000, 6000, 9000);
    slice.initialRate = 0.9;
    slice.tailLoopStart = 2500;
    slice.tailCrossfade = 220;
    slice.gateAttack = 9;
    slice.gateRelease = 300;
    slice.ampAttack = 50;
    slice.ampDecay = 2000;
    slice.ampSustain = 0.3f;
    SliceRenderer other(&f.loop);
    other.SetSource(&f.source);
    f.voice.Start(slice);
    other.Start(slice);
    std::vector<float> whole(12000, 0.0f);
    std::vector<float> pieces(12000, 0.0f);
    float* wholeOut[2] = {whole.data(), whole.data()};
    float* piecesOut[2] = {pieces.data(), pieces.data()};
    f.voice.Render(12000, wholeOut, 0, nullptr);
    for (uint32_t done = 0; done < 12000; done += 100)
        other.Render(100, piecesOut, done, nullptr);
    EXPECT_EQ(whole, pieces);
    EXPECT_NE(whole[5000], 0.0f);
    for (uint32_t j = 9309; j < 12000; ++j) // the gate closed after 9 + 9000 + 300 frames
        ASSERT_EQ(whole[j], 0.0f) << j;
}
