#include "dsp/render/SlicePlayer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace
{

constexpr float Outside = 1.0e6f; // what every frame outside the slice under test holds

// A two-channel source whose frames inside [sliceStart, sliceStart + sliceLength) count up from
// 0 on the left channel (so an interpolated read gives back the head position) and hold twice
// that on the right; every other frame holds a sentinel that must never be read.
struct Source
{
    Source(uint32_t frames, uint32_t sliceStart, uint32_t sliceLength)
        : left(frames, Outside), right(frames, Outside)
    {
        for (uint32_t j = 0; j < sliceLength; ++j)
        {
            left[sliceStart + j] = static_cast<float>(j);
            right[sliceStart + j] = 2.0f * static_cast<float>(j);
        }
        pointers[0] = left.data();
        pointers[1] = right.data();
        audio.sampleRate = 44100;
        audio.channelCount = 2;
        audio.frameCount = frames;
        audio.channels = pointers;
    }
    std::vector<float> left;
    std::vector<float> right;
    float* pointers[2];
    DSP::Marrowlin::SourceAudio audio;
};

struct Output
{
    explicit Output(uint32_t frames) : left(frames, -5.0f), right(frames, -5.0f)
    {
        pointers[0] = left.data();
        pointers[1] = right.data();
    }
    std::vector<float> left;
    std::vector<float> right;
    float* pointers[2];
};

// Renders `frames` frames and returns the left channel, checking that the right one is its
// double (both channels are read at the same heads with the same gains).
std::vector<float> Play(DSP::SlicePlayer& player, uint32_t frames, uint32_t* sink = nullptr)
{
    Output out(frames);
    player.Render(frames, out.pointers, sink);
    for (uint32_t j = 0; j < frames; ++j)
        EXPECT_EQ(out.right[j], 2.0f * out.left[j]) << j;
    return out.left;
}

} // namespace

TEST(SlicePlayer, RateOneCopiesTheSliceThenStops)
{
    Source source(64, 10, 20);
    DSP::SlicePlayer player;
    player.SetSource(&source.audio);
    player.Setup(10, 20, 20, 220, 1.0);
    EXPECT_EQ(player.GetCrossfade(), 0u);
    uint32_t sink = 0;
    const std::vector<float> out = Play(player, 32, &sink);
    for (uint32_t j = 0; j < 20; ++j)
        EXPECT_EQ(out[j], static_cast<float>(j)) << j;
    for (uint32_t j = 20; j < 32; ++j)
        EXPECT_EQ(out[j], 0.0f) << j;
    EXPECT_EQ(player.GetState(), DSP::PlayerState::Stopped);
    EXPECT_EQ(sink, 30u);
    // A stopped player writes zeros and keeps reporting start + position.
    sink = 0;
    EXPECT_EQ(Play(player, 8, &sink), std::vector<float>(8, 0.0f));
    EXPECT_EQ(sink, 30u);
}

TEST(SlicePlayer, StoppedReportIncludesTheOvershoot)
{
    Source source(64, 0, 20);
    DSP::SlicePlayer player;
    player.SetSource(&source.audio);
    player.Setup(0, 20, 20, 0, 1.5); // heads 0, 1.5, ..., 19.5, then 21
    uint32_t sink = 0;
    const std::vector<float> out = Play(player, 16, &sink);
    EXPECT_EQ(out[12], 18.0f);
    EXPECT_EQ(out[13], 19.0f); // both neighbours of 19.5 clamp to the last frame
    EXPECT_EQ(out[14], 0.0f);
    EXPECT_EQ(sink, 21u);
}

TEST(SlicePlayer, FractionalRatesInterpolateLinearly)
{
    Source source(64, 5, 30);
    DSP::SlicePlayer player;
    player.SetSource(&source.audio);
    player.Setup(5, 30, 30, 0, 0.5);
    const std::vector<float> half = Play(player, 10);
    for (uint32_t j = 0; j < 10; ++j)
        EXPECT_EQ(half[j], 0.5f * static_cast<float>(j)) << j;

    player.Setup(5, 30, 30, 0, 0.3);
    const std::vector<float> out = Play(player, 40);
    double head = 0.0;
    for (uint32_t j = 0; j < 40; ++j, head += 0.3)
    {
        // Past the last frame reads hold it.
        const double expected = head < 29.0 ? head : 29.0;
        if (head < 30.0)
            EXPECT_NEAR(out[j], expected, 1e-5) << j;
        else
            EXPECT_EQ(out[j], 0.0f) << j;
    }
}

TEST(SlicePlayer, HardTurnsWithoutCrossfade)
{
    // Slice of 8 frames with its tail loop from frame 4: forward to the end, back from the end
    // (reading the last frame twice: the head starts at the slice length), forward from 4, ...
    Source source(32, 3, 8);
    DSP::SlicePlayer player;
    player.SetSource(&source.audio);
    player.Setup(3, 8, 4, 0, 1.0);
    EXPECT_EQ(player.GetEndFadeStart(), 8u);
    EXPECT_EQ(player.GetStartFadeEnd(), 4u);
    uint32_t sink = 0;
    const std::vector<float> out = Play(player, 21, &sink);
    const std::vector<float> expected{0, 1, 2, 3, 4, 5, 6, 7, 7, 7, 6,
                                      5, 4, 5, 6, 7, 7, 7, 6, 5, 4};
    EXPECT_EQ(out, expected);
    // A turn without crossfade never marks the player wrapped: the report follows the forward
    // head, which restarted at 4 and has stepped once past it.
    EXPECT_FALSE(player.IsWrapped());
    EXPECT_EQ(player.GetState(), DSP::PlayerState::Forward);
    EXPECT_EQ(sink, 3u + 5u);
}

TEST(SlicePlayer, ShortTailGetsNoCrossfade)
{
    Source source(16, 0, 8);
    DSP::SlicePlayer player;
    player.SetSource(&source.audio);
    player.Setup(0, 8, 7, 100, 1.0); // a one-frame tail cannot hold a crossfade
    EXPECT_EQ(player.GetCrossfade(), 0u);
    const std::vector<float> expected{0, 1, 2, 3, 4, 5, 6, 7, 7, 7, 7, 7};
    EXPECT_EQ(Play(player, 12), expected);
}

TEST(SlicePlayer, CrossfadeIsCappedAtHalfTheTail)
{
    DSP::SlicePlayer player;
    player.Setup(0, 100, 60, 50, 1.0);
    EXPECT_EQ(player.GetCrossfade(), 20u);
    EXPECT_EQ(player.GetEndFadeStart(), 80u);
    EXPECT_EQ(player.GetStartFadeEnd(), 80u);
    player.Setup(0, 100, 60, 7, 1.0);
    EXPECT_EQ(player.GetCrossfade(), 7u);
    EXPECT_EQ(player.GetEndFadeStart(), 93u);
    EXPECT_EQ(player.GetStartFadeEnd(), 67u);
}

TEST(SlicePlayer, CrossfadedTurnsWorkedByHand)
{
    // Slice of 10 frames, tail from 2, crossfade 4: the fades span 6..10 and 2..6. On counting
    // data each crossfaded frame is the gain-weighted mean of two mirrored heads, e.g. frame 7:
    // 0.75 * 7 + 0.25 * 9 = 7.5; frame 11: 0.25 * 3 + 0.75 * 5 = 4.5.
    Source source(40, 12, 10);
    DSP::SlicePlayer player;
    player.SetSource(&source.audio);
    player.Setup(12, 10, 2, 4, 1.0);
    uint32_t sink = 0;
    const std::vector<float> first = Play(player, 6, &sink);
    EXPECT_EQ(first, (std::vector<float>{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(player.GetState(), DSP::PlayerState::EndCrossfade);
    EXPECT_EQ(player.GetReversePosition(), 10.0);
    EXPECT_EQ(sink, 12u + 6u);

    const std::vector<float> turn = Play(player, 4, &sink);
    EXPECT_EQ(turn, (std::vector<float>{6, 7.5f, 8, 7.5f}));
    EXPECT_TRUE(player.IsWrapped());
    EXPECT_EQ(player.GetState(), DSP::PlayerState::Reverse);
    EXPECT_EQ(sink, 12u + 10u); // from the first crossfaded turn on: the slice's end

    const std::vector<float> back = Play(player, 10, &sink);
    EXPECT_EQ(back, (std::vector<float>{6, 4.5f, 4, 4.5f, 6, 7.5f, 8, 7.5f, 6, 4.5f}));
    EXPECT_EQ(sink, 12u + 10u);
    EXPECT_EQ(player.GetState(), DSP::PlayerState::StartCrossfade);
    // The two heads stay mirrored about the middle of the crossfade region.
    EXPECT_DOUBLE_EQ(player.GetPosition() + player.GetReversePosition(), 8.0);
}

TEST(SlicePlayer, BlockSizesDoNotChangeTheOutput)
{
    Source source(400, 20, 300);
    DSP::SlicePlayer whole;
    DSP::SlicePlayer pieces;
    whole.SetSource(&source.audio);
    pieces.SetSource(&source.audio);
    whole.Setup(20, 300, 120, 30, 0.87);
    pieces.Setup(20, 300, 120, 30, 0.87);
    const std::vector<float> expected = Play(whole, 1000);
    std::vector<float> got;
    for (uint32_t n : {1u, 63u, 64u, 65u, 0u, 200u, 7u, 600u})
    {
        const std::vector<float> part = Play(pieces, n);
        got.insert(got.end(), part.begin(), part.end());
    }
    EXPECT_EQ(got, expected);
    // The tail loop keeps playing inside the tail and never reads outside the slice.
    for (uint32_t j = 400; j < 1000; ++j)
    {
        EXPECT_GE(expected[j], 120.0f - 1e-3f) << j;
        EXPECT_LE(expected[j], 299.0f) << j;
    }
}

TEST(SlicePlayer, RateChangeKeepsHeadsAndState)
{
    Source source(64, 0, 40);
    DSP::SlicePlayer player;
    player.SetSource(&source.audio);
    player.Setup(0, 40, 40, 0, 1.0);
    Play(player, 4);
    player.SetRate(2.0);
    EXPECT_EQ(player.GetRate(), 2.0);
    EXPECT_EQ(player.GetPosition(), 4.0);
    EXPECT_EQ(Play(player, 3), (std::vector<float>{4, 6, 8}));
}

TEST(SlicePlayer, AddInterpolatedClampsToTheSlice)
{
    Source source(32, 4, 10);
    DSP::SlicePlayer player;
    player.SetSource(&source.audio);
    player.Setup(4, 10, 10, 0, 1.0);
    Output out(3);
    for (float& v : out.left)
        v = 1.0f;
    for (float& v : out.right)
        v = 1.0f;
    player.AddInterpolated(out.pointers, 2.25, 0, 2.0f);
    player.AddInterpolated(out.pointers, 9.5, 1, 1.0f);   // between the last frame and beyond
    player.AddInterpolated(out.pointers, 500.0, 2, 1.0f); // far past the end
    EXPECT_EQ(out.left, (std::vector<float>{5.5f, 10.0f, 10.0f}));
    EXPECT_EQ(out.right, (std::vector<float>{10.0f, 19.0f, 19.0f}));
}

TEST(SlicePlayer, RatesWithoutDirectionHoldTheFirstFrame)
{
    Source source(32, 6, 10);
    for (double rate : {0.0, -3.0, std::numeric_limits<double>::quiet_NaN(),
                        -std::numeric_limits<double>::infinity()})
    {
        DSP::SlicePlayer player;
        player.SetSource(&source.audio);
        player.Setup(6, 10, 5, 2, rate);
        EXPECT_EQ(player.GetRate(), 0.0) << rate;
        uint32_t sink = 0;
        EXPECT_EQ(Play(player, 300, &sink), std::vector<float>(300, 0.0f)) << rate;
        EXPECT_EQ(sink, 6u);
        EXPECT_EQ(player.GetState(), DSP::PlayerState::Forward);
    }
}

TEST(SlicePlayer, HugeRatesStayInsideTheSlice)
{
    Source source(32, 6, 10);
    for (double rate : {1.0e300, std::numeric_limits<double>::infinity()})
    {
        DSP::SlicePlayer player;
        player.SetSource(&source.audio);
        player.Setup(6, 10, 4, 2, 1.0);
        Play(player, 7); // into the end crossfade
        player.SetRate(rate);
        uint32_t sink = 0;
        const std::vector<float> out = Play(player, 100, &sink);
        for (float v : out)
        {
            EXPECT_GE(v, 0.0f) << rate;
            EXPECT_LE(v, 9.0f) << rate;
        }
        EXPECT_GE(sink, 6u);
        EXPECT_LE(sink, 16u);

        // Without a tail the player stops after one frame and reports a saturated position.
        player.Setup(6, 10, 10, 0, rate);
        const std::vector<float> once = Play(player, 4, &sink);
        EXPECT_EQ(once, (std::vector<float>{0, 0, 0, 0}));
        EXPECT_EQ(player.GetState(), DSP::PlayerState::Stopped);
        EXPECT_EQ(sink, 4294967295u);
    }
}

TEST(SlicePlayer, TailStartPastTheSliceMeansNoTail)
{
    Source source(32, 0, 10);
    DSP::SlicePlayer player;
    player.SetSource(&source.audio);
    player.Setup(0, 10, 4000000000u, 50, 1.0);
    EXPECT_EQ(player.GetTailStart(), 10u);
    EXPECT_EQ(player.GetCrossfade(), 0u);
    const std::vector<float> out = Play(player, 12);
    EXPECT_EQ(out[9], 9.0f);
    EXPECT_EQ(out[10], 0.0f);
    EXPECT_EQ(player.GetState(), DSP::PlayerState::Stopped);
}

TEST(SlicePlayer, UnreadableSlicesRenderSilence)
{
    Source source(32, 0, 10);
    DSP::SlicePlayer player;
    uint32_t sink = 7;
    // No source: nothing to clear or read, but the report still works.
    player.Setup(0, 10, 10, 0, 1.0);
    player.Render(4, nullptr, &sink);
    EXPECT_EQ(sink, 0u);

    player.SetSource(&source.audio);
    player.Setup(0, 0, 0, 0, 1.0); // empty slice
    EXPECT_EQ(Play(player, 4), std::vector<float>(4, 0.0f));
    player.Setup(30, 10, 10, 0, 1.0); // runs past the source's end
    EXPECT_EQ(Play(player, 4), std::vector<float>(4, 0.0f));
    player.Setup(4294967295u, 2, 2, 0, 1.0); // start + length wraps around
    EXPECT_EQ(Play(player, 4), std::vector<float>(4, 0.0f));
}
