#include "dsp/render/SlicePlayer.h"
#include "tests/dsp/marrowlin/LoopInputs.h"

#include <gtest/gtest.h>

#include <limits>
#include <numeric>
#include <vector>

using DSP::PlayerState;
using Floats = std::vector<float>;

namespace
{
// Slice frame j holds j on the left and 2j on the right; every other frame a sentinel.
struct Counting : PlanarSource
{
    Counting(uint32_t frames, uint32_t start, uint32_t length)
        : PlanarSource(frames, 2, 44100, 1.0e6f)
    {
        for (uint32_t j = 0; j < length; ++j)
            data[1][start + j] = 2.0f * (data[0][start + j] = float(j));
        player.SetSource(&audio);
    }
    // Renders over junk and returns the left channel; the right must be its double.
    Floats Play(uint32_t frames)
    {
        Floats left(frames, -5.0f), right(frames, -5.0f);
        float* buffers[2] = {left.data(), right.data()};
        player.Render(frames, buffers, &sink);
        for (uint32_t j = 0; j < frames; ++j)
            EXPECT_EQ(right[j], 2.0f * left[j]) << j;
        return left;
    }
    DSP::SlicePlayer player;
    uint32_t sink = 0; // the source frame played last
};
} // namespace

// Without a tail the slice is copied and the player stops; with one and no crossfade it turns
// hard at either end of the tail.
TEST(SlicePlayer, CopiesASliceThenStopsOrTurnsHard)
{
    Counting source(64, 10, 20);
    source.player.Setup(10, 20, 20, 220, 1.0);
    Floats expected(32, 0.0f);
    std::iota(expected.begin(), expected.begin() + 20, 0.0f);
    EXPECT_EQ(source.Play(32), expected);
    EXPECT_EQ(source.player.GetState(), PlayerState::Stopped);
    EXPECT_EQ(source.sink, 30u);
    EXPECT_EQ(source.Play(8), Floats(8, 0.0f));
    EXPECT_EQ(source.sink, 30u);

    Counting turning(32, 3, 8); // a tail from 4 on
    turning.player.Setup(3, 8, 4, 0, 1.0);
    EXPECT_EQ(turning.Play(21),
              (Floats{0, 1, 2, 3, 4, 5, 6, 7, 7, 7, 6, 5, 4, 5, 6, 7, 7, 7, 6, 5, 4}));
    EXPECT_FALSE(turning.player.IsWrapped());
    EXPECT_EQ(turning.sink, 3u + 5u);
}

TEST(SlicePlayer, CrossfadesAreCappedAtHalfTheTailAndWorkedByHand)
{
    DSP::SlicePlayer capped;
    capped.Setup(0, 100, 60, 50, 1.0);
    EXPECT_EQ(capped.GetCrossfade(), 20u);
    EXPECT_EQ(capped.GetEndFadeStart(), 80u);
    EXPECT_EQ(capped.GetStartFadeEnd(), 80u);

    // 10 frames, tail from 2, crossfade 4: frame 7 is 0.75 * 7 + 0.25 * 9, frame 11 is
    // 0.25 * 3 + 0.75 * 5.
    Counting source(40, 12, 10);
    source.player.Setup(12, 10, 2, 4, 1.0);
    EXPECT_EQ(source.Play(6), (Floats{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(source.player.GetState(), PlayerState::EndCrossfade);
    EXPECT_EQ(source.sink, 12u + 6u);
    EXPECT_EQ(source.Play(4), (Floats{6, 7.5f, 8, 7.5f}));
    EXPECT_EQ(source.sink, 12u + 10u);
    EXPECT_EQ(source.Play(10), (Floats{6, 4.5f, 4, 4.5f, 6, 7.5f, 8, 7.5f, 6, 4.5f}));
    EXPECT_EQ(source.player.GetState(), PlayerState::StartCrossfade);
}

TEST(SlicePlayer, HostileRatesAndSlices)
{
    Counting source(32, 6, 10);
    source.player.Setup(6, 10, 5, 2, std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(source.Play(300), Floats(300, 0.0f));
    EXPECT_EQ(source.sink, 6u);
    source.player.Setup(6, 10, 4, 2, 1.0);
    source.Play(7);
    source.player.SetRate(std::numeric_limits<double>::infinity());
    for (float v : source.Play(100))
        ASSERT_TRUE(v >= 0.0f && v <= 9.0f);
    EXPECT_TRUE(source.sink >= 6u && source.sink <= 16u) << source.sink;
    source.player.Setup(4294967295u, 10, 0, 0, 1.0);
    EXPECT_EQ(source.Play(4), Floats(4, 0.0f));
}
