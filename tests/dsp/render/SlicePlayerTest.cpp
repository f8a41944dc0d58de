#include "dsp/render/SlicePlayer.h"
#include "tests/dsp/marrowlin/LoopInputs.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

using DSP::PlayerState;

namespace
{

// A stereo source whose slice frames count up from 0 on the left (so an interpolated read gives
// back the head) and hold twice that on the right; every other frame holds a sentinel.
struct Counting : PlanarSource
{
    Counting(uint32_t frames, uint32_t start, uint32_t length)
        : PlanarSource(frames, 2, 44100, 1.0e6f)
    {
        for (uint32_t j = 0; j < length; ++j)
        {
            data[0][start + j] = float(j);
            data[1][start + j] = 2.0f * float(j);
        }
        player.SetSource(&audio);
    }
    DSP::SlicePlayer player;
};

// Renders into buffers full of junk and returns the left channel; the right must be its double.
std::vector<float> Play(DSP::SlicePlayer& player, uint32_t frames, uint32_t* sink = nullptr)
{
    std::vector<float> left(frames, -5.0f);
    std::vector<float> right(frames, -5.0f);
    float* buffers[2] = {left.data(), right.data()};
    player.Render(frames, buffers, sink);
    for (uint32_t j = 0; j < frames; ++j)
        EXPECT_EQ(right[j], 2.0f * left[j]) << j;
    return left;
}

} // namespace

TEST(SlicePlayer, CopiesASliceThenStops)
{
    Counting source(64, 10, 20);
    DSP::SlicePlayer& player = source.player;
    player.Setup(10, 20, 20, 220, 1.0); // no tail, so no crossfade
    EXPECT_EQ(player.GetCrossfade(), 0u);
    uint32_t sink = 0;
    std::vector<float> expected(32, 0.0f);
    for (uint32_t j = 0; j < 20; ++j)
        expected[j] = float(j);
    EXPECT_EQ(Play(player, 32, &sink), expected);
    EXPECT_EQ(player.GetState(), PlayerState::Stopped);
    EXPECT_EQ(sink, 30u);
    EXPECT_EQ(Play(player, 8, &sink), std::vector<float>(8, 0.0f)); // stopped: zeros
    EXPECT_EQ(sink, 30u);

    // Half speed reads between frames; past the last frame both neighbours clamp to it.
    player.Setup(10, 20, 20, 0, 0.5);
    const std::vector<float> slow = Play(player, 42);
    EXPECT_EQ(slow[3], 1.5f);
    EXPECT_EQ(slow[39], 19.0f);
    EXPECT_EQ(slow[40], 0.0f);
}

TEST(SlicePlayer, HardTurnsWithoutCrossfade)
{
    // Tail from 4 of 8 frames: back from the end (the head starts at 8, so the last frame is
    // read twice), forward again from 4, and so on.
    Counting source(32, 3, 8);
    source.player.Setup(3, 8, 4, 0, 1.0);
    uint32_t sink = 0;
    EXPECT_EQ(Play(source.player, 21, &sink),
              (std::vector<float>{0, 1, 2, 3, 4, 5, 6, 7, 7, 7, 6, 5, 4, 5, 6, 7, 7, 7, 6, 5, 4}));
    // A hard turn never marks the player wrapped: the report follows the forward head, which
    // restarted at 4 and has stepped once past it.
    EXPECT_FALSE(source.player.IsWrapped());
    EXPECT_EQ(sink, 3u + 5u);
}

TEST(SlicePlayer, CrossfadesAreCappedAtHalfTheTailAndWorkedByHand)
{
    DSP::SlicePlayer capped;
    capped.Setup(0, 100, 60, 50, 1.0);
    EXPECT_EQ(capped.GetCrossfade(), 20u); // fades meet in the middle of the tail
    EXPECT_EQ(capped.GetEndFadeStart(), 80u);
    EXPECT_EQ(capped.GetStartFadeEnd(), 80u);
    capped.Setup(0, 10, 4000000000u, 5, 1.0); // a tail start past the end means no tail
    EXPECT_EQ(capped.GetTailStart(), 10u);
    EXPECT_EQ(capped.GetCrossfade(), 0u);

    // 10 frames, tail from 2, crossfade 4: the fades span 6..10 and 2..6. On counting data a
    // crossfaded frame is the gain-weighted mean of two mirrored heads, e.g. frame 7:
    // 0.75 * 7 + 0.25 * 9 = 7.5, and frame 11: 0.25 * 3 + 0.75 * 5 = 4.5.
    Counting source(40, 12, 10);
    DSP::SlicePlayer& player = source.player;
    player.Setup(12, 10, 2, 4, 1.0);
    uint32_t sink = 0;
    EXPECT_EQ(Play(player, 6, &sink), (std::vector<float>{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(player.GetState(), PlayerState::EndCrossfade);
    EXPECT_EQ(sink, 12u + 6u);
    EXPECT_EQ(Play(player, 4, &sink), (std::vector<float>{6, 7.5f, 8, 7.5f}));
    EXPECT_EQ(sink, 12u + 10u); // from the first crossfaded turn on: the slice's end
    EXPECT_EQ(Play(player, 10, &sink),
              (std::vector<float>{6, 4.5f, 4, 4.5f, 6, 7.5f, 8, 7.5f, 6, 4.5f}));
    EXPECT_EQ(player.GetState(), PlayerState::StartCrossfade);
    EXPECT_EQ(player.GetPosition() + player.GetReversePosition(), 8.0); // mirrored heads
}

TEST(SlicePlayer, BlockSizesDoNotChangeTheOutput)
{
    Counting source(400, 20, 300);
    DSP::SlicePlayer pieces;
    pieces.SetSource(&source.audio);
    source.player.Setup(20, 300, 120, 30, 0.87);
    pieces.Setup(20, 300, 120, 30, 0.87);
    const std::vector<float> expected = Play(source.player, 1000);
    std::vector<float> got;
    for (uint32_t n : {1u, 63u, 64u, 65u, 0u, 200u, 7u, 600u})
    {
        const std::vector<float> part = Play(pieces, n);
        got.insert(got.end(), part.begin(), part.end());
    }
    EXPECT_EQ(got, expected);
    for (uint32_t j = 400; j < 1000; ++j) // the tail loop stays inside the tail
        ASSERT_TRUE(expected[j] >= 119.99f && expected[j] <= 299.0f) << j;
}

TEST(SlicePlayer, AnyRateStaysInsideTheSlice)
{
    Counting source(32, 6, 10);
    DSP::SlicePlayer& player = source.player;
    uint32_t sink = 0;
    // Rates without a direction freeze the heads on the first frame.
    for (double rate : {0.0, -3.0, std::numeric_limits<double>::quiet_NaN()})
    {
        player.Setup(6, 10, 5, 2, rate);
        EXPECT_EQ(player.GetRate(), 0.0) << rate;
        EXPECT_EQ(Play(player, 300, &sink), std::vector<float>(300, 0.0f)) << rate;
        EXPECT_EQ(sink, 6u);
    }
    // Huge rates jump the heads past the slice; reads clamp into it, reports saturate.
    for (double rate : {1.0e300, std::numeric_limits<double>::infinity()})
    {
        player.Setup(6, 10, 4, 2, 1.0);
        Play(player, 7); // into the end crossfade
        player.SetRate(rate);
        for (float v : Play(player, 100, &sink))
            ASSERT_TRUE(v >= 0.0f && v <= 9.0f) << rate;
        EXPECT_TRUE(sink >= 6u && sink <= 16u) << sink;
        player.Setup(6, 10, 10, 0, rate);
        EXPECT_EQ(Play(player, 3, &sink), (std::vector<float>{0, 0, 0}));
        EXPECT_EQ(sink, 4294967295u);
    }
    // Slices that are empty or outside the source are silent.
    for (uint32_t start : {0u, 30u, 4294967295u})
    {
        player.Setup(start, start == 0 ? 0 : 10, 0, 0, 1.0);
        EXPECT_EQ(Play(player, 4), std::vector<float>(4, 0.0f)) << start;
    }
}
