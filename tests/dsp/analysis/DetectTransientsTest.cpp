#include "dsp/analysis/TransientDetector.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace
{

using DSP::DetectedTransient;
using DSP::DetectTransients;
using DSP::TransientDetector;

// Silence, then random signs of magnitude `level` from `onset` for `duration` samples: a sound
// whose absolute value, and so whose frame energy, is constant from its first sample.
std::vector<float> Burst(size_t length, size_t onset, size_t duration, float level, unsigned seed)
{
    std::mt19937 rng(seed);
    std::vector<float> x(length, 0.0f);
    for (size_t i = onset; i < onset + duration && i < length; ++i)
        x[i] = (rng() & 1) ? level : -level;
    return x;
}

std::vector<DetectedTransient> Detect(const std::vector<std::vector<float>>& audio,
                                      uint32_t rate = 44100, float windowMs = 75.0f)
{
    std::vector<const float*> channels;
    for (const auto& c : audio)
        channels.push_back(c.data());
    std::vector<DetectedTransient> out{{123, 0.5f}}; // cleared by the call
    DetectTransients(rate, static_cast<uint32_t>(audio.size()),
                     static_cast<uint32_t>(audio[0].size()), channels.data(), out, windowMs);
    return out;
}

void ExpectSane(const std::vector<DetectedTransient>& out, size_t length)
{
    for (const auto& t : out)
    {
        EXPECT_LT(t.position, length);
        EXPECT_GT(t.strength, 0.0f);
        EXPECT_LE(t.strength, 1.0f);
    }
}

TEST(DetectTransients, SilenceFindsNothing)
{
    EXPECT_TRUE(Detect({std::vector<float>(44100, 0.0f)}).empty());
    EXPECT_TRUE(Detect(std::vector<std::vector<float>>(2, std::vector<float>(44100))).empty());
}

TEST(DetectTransients, TooShortFindsNothing)
{
    // Fewer than four coarse hops (4 * 64 samples at 44.1 kHz), however loud.
    EXPECT_TRUE(Detect({Burst(255, 10, 245, 1.0f, 1)}).empty());
    EXPECT_TRUE(Detect({Burst(15, 0, 15, 1.0f, 1)}, 1000).empty());
}

TEST(DetectTransients, AbruptOnsetIsPlacedByTheRefinement)
{
    // Sound of constant magnitude 1 starting at P = 16 m + r, after 4800 samples of silence.
    // The fine frames (hop 16) are centred on 16 f, their 32-point energy windows cover
    // 16 f - 16 .. 16 f + 15. "Before" (80..64 frames back) is silent, "after" (16..32 frames
    // on) is the full-frame level, so the onset is refined:
    //  a. walking back from the fine flux peak stops at the last frame below a tenth of the full
    //     level, and k becomes the frame after it: k = m for r <= 12 (frame m already holds the
    //     samples P .. 16 m + 15), k = m + 1 for r = 13..15, whose few samples meet only the
    //     window's last, tiny values. (The peak is not before frame m - 2: ahead of the sound
    //     the flux grows by a whole frame's worth each time another of the 8 frames it looks at
    //     reaches the sound, far more than the 0.5 % per frame bias toward earlier frames.)
    //  b. no earlier frame exceeds the full level, so there is no second walk.
    //  d. the step search reads samples from 16 k - 8, where the rooted level steps from 0 to 1
    //     at index e0 = P - 16 k + 8; the largest rise (two four-sample sums ahead minus two
    //     behind) is first reached at b = e0 - 4.
    // The candidate sits in slot k - 1 with offset b + 16 - 12, so its position is
    // 16 (k - 1) + P - 16 k + 4 + 4 = P - 8, whatever k turned out to be.
    // The sound lasts 1024 samples, so all of its flux lies within the narrowest suppression
    // radius (26 coarse frames) of the onset and nothing else survives.
    for (size_t r : {0u, 7u, 12u, 13u, 15u})
    {
        const size_t onset = 16 * 300 + r;
        const auto out = Detect({Burst(16384, onset, 1024, 1.0f, 7)});
        ASSERT_EQ(out.size(), 1u) << r;
        EXPECT_EQ(out[0].position, onset - 8) << r;
        EXPECT_EQ(out[0].strength, 1.0f) << r;
    }
}

TEST(DetectTransients, SingleClickHasFullStrength)
{
    // One isolated sample: the energy is back to zero long before the "after" span, so there
    // is no refinement and the click lands on a fine frame boundary at or before it.
    std::vector<float> x(16384, 0.0f);
    x[5000] = 0.8f;
    const auto out = Detect({x});
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].strength, 1.0f);
    EXPECT_EQ(out[0].position % 16, 0u);
    EXPECT_LE(out[0].position, 5000u);
    EXPECT_GE(out[0].position, 5000u - 16 * 32);
}

TEST(DetectTransients, FurtherChannelsOnlyMoveTheRefinement)
{
    const size_t onset = 16 * 300;
    const auto first = Burst(16384, onset, 1024, 1.0f, 7);
    const std::vector<float> silent(16384, 0.0f);
    // Channel 3 jumps to 80 ten samples after the onset. The tracks ignore it, but the step
    // search sums every channel: the rooted level rises from 1 to 3 there, twice the first
    // rise, so the onset moves to (P + 10) - 8.
    std::vector<float> third(16384, 0.0f);
    for (size_t i = onset + 10; i < onset + 1024; ++i)
        third[i] = 80.0f;

    const auto stereo = Detect({first, silent});
    ASSERT_EQ(stereo.size(), 1u);
    EXPECT_EQ(stereo[0].position, onset - 8);

    const auto three = Detect({first, silent, third});
    ASSERT_EQ(three.size(), 1u);
    EXPECT_EQ(three[0].position, onset + 2);
    EXPECT_EQ(three[0].strength, 1.0f);
}

TEST(DetectTransients, WindowWidthControlsHowManySurvive)
{
    // A few bursts, the later ones weaker and close behind the first.
    std::vector<float> x(44100, 0.0f);
    const size_t onsets[] = {4000, 6000, 9000, 20000, 30000};
    const float levels[] = {1.0f, 0.3f, 0.5f, 0.8f, 0.6f};
    for (int b = 0; b < 5; ++b)
    {
        const auto burst = Burst(44100, onsets[b], 1500, levels[b], 20 + b);
        for (size_t i = 0; i < x.size(); ++i)
            x[i] += burst[i];
    }
    const auto none = Detect({x}, 44100, 0.0f);
    const auto normal = Detect({x}, 44100, 75.0f);
    const auto wide = Detect({x}, 44100, 10000.0f);
    ExpectSane(none, x.size());
    ExpectSane(normal, x.size());
    ExpectSane(wide, x.size());
    // 0 ms suppresses nothing. At 10 s even the narrowest pass (5 s) reaches across the whole
    // 1 s loop at full weight, so only the strongest frame is left.
    EXPECT_GT(none.size(), normal.size());
    ASSERT_EQ(wide.size(), 1u);
    EXPECT_EQ(wide[0].position, onsets[0] - 8);
    // At 75 ms each burst is found within a few milliseconds of its start.
    for (size_t onset : onsets)
    {
        bool found = false;
        for (const auto& t : normal)
            found = found || (t.position + 8 >= onset - 16 && t.position <= onset + 16);
        EXPECT_TRUE(found) << onset;
    }
    // The strongest onset carries strength 1.
    float strongest = 0.0f;
    for (const auto& t : normal)
        strongest = std::max(strongest, t.strength);
    EXPECT_EQ(strongest, 1.0f);

    // NaN and negative windows behave like 0 ms; infinity like any window that wide.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    auto same = [](const std::vector<DetectedTransient>& a, const std::vector<DetectedTransient>& b)
    {
        if (a.size() != b.size())
            return false;
        for (size_t i = 0; i < a.size(); ++i)
        {
            if (a[i].position != b[i].position || a[i].strength != b[i].strength)
                return false;
        }
        return true;
    };
    EXPECT_TRUE(same(Detect({x}, 44100, nan), none));
    EXPECT_TRUE(same(Detect({x}, 44100, -75.0f), none));
    EXPECT_TRUE(same(Detect({x}, 44100, inf), wide));
    EXPECT_TRUE(same(Detect({x}, 44100, 1.0e30f), wide));
}

TEST(DetectTransients, OutputIsInFineFrameOrder)
{
    std::vector<float> x(44100, 0.0f);
    for (size_t onset : {3000u, 12000u, 25000u, 38000u})
    {
        const auto burst = Burst(44100, onset, 1000, 0.7f, static_cast<unsigned>(onset));
        for (size_t i = 0; i < x.size(); ++i)
            x[i] += burst[i];
    }
    const auto out = Detect({x, x});
    ASSERT_GE(out.size(), 4u);
    // Positions of distinct fine frames come out in frame order; for onsets this far apart
    // that is also position order.
    for (size_t i = 1; i < out.size(); ++i)
        EXPECT_LT(out[i - 1].position, out[i].position);
}

TEST(DetectTransients, UnusualRatesStaySafe)
{
    const auto x = Burst(20000, 5000, 3000, 0.5f, 3);
    // At 1 Hz the frames are 16 samples with a fine hop of 1.
    const auto slow = Detect({x}, 1);
    ExpectSane(slow, x.size());
    EXPECT_FALSE(slow.empty());
    // A rate of 0 (never passed by the loop) behaves like the smallest frames.
    ExpectSane(Detect({x}, 0), x.size());
    // At 4 GHz the coarse frame is 2^24 samples: 20000 samples are far fewer than four hops.
    EXPECT_TRUE(Detect({x}, 4000000000u).empty());
    EXPECT_TRUE(Detect({x}, 4294967295u).empty());
    // 22.05 kHz: fine hop 8, so offsets can be slightly negative.
    const auto low = Detect({x}, 22050);
    ExpectSane(low, x.size());
    ASSERT_FALSE(low.empty());
    EXPECT_EQ(low[0].position, 5000u - 8);
}

TEST(DetectTransients, NonFiniteAudioStaysSafe)
{
    auto x = Burst(20000, 5000, 3000, 0.5f, 4);
    x[6000] = std::numeric_limits<float>::quiet_NaN();
    x[7000] = std::numeric_limits<float>::infinity();
    x[8000] = -std::numeric_limits<float>::infinity();
    ExpectSane(Detect({x}), x.size());
    ExpectSane(Detect({x, x, x}), x.size());
    std::vector<float> allNan(5000, std::numeric_limits<float>::quiet_NaN());
    ExpectSane(Detect({allNan}), allNan.size());
    std::vector<float> allInf(5000, std::numeric_limits<float>::infinity());
    ExpectSane(Detect({allInf, allNan}), allInf.size());
    std::vector<float> huge(5000, 3.0e38f);
    ExpectSane(Detect({huge, huge}), huge.size());
}

TEST(DetectTransients, MissingAudioFindsNothing)
{
    std::vector<DetectedTransient> out{{1, 1.0f}};
    DetectTransients(44100, 2, 44100, nullptr, out, 75.0f);
    EXPECT_TRUE(out.empty());
    const float* holes[] = {nullptr, nullptr};
    out.push_back({1, 1.0f});
    DetectTransients(44100, 2, 44100, holes, out, 75.0f);
    EXPECT_TRUE(out.empty());
    out.push_back({1, 1.0f});
    DetectTransients(44100, 0, 0, holes, out, 75.0f);
    EXPECT_TRUE(out.empty());
}

} // namespace
