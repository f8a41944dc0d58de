#include "dsp/analysis/TransientDetector.h"
#include "tests/dsp/analysis/AnalysisAudio.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

namespace
{

using DSP::DetectedTransient;

std::vector<DetectedTransient> Detect(const Audio& audio, uint32_t rate = 44100,
                                      float windowMs = 75.0f)
{
    std::vector<DetectedTransient> out{{123, 0.5f}}; // cleared by the call
    DSP::DetectTransients(rate, uint32_t(audio.size()), uint32_t(audio[0].size()),
                          Pointers(audio).data(), out, windowMs);
    for (const auto& t : out)
    {
        EXPECT_LT(t.position, audio[0].size());
        EXPECT_GT(t.strength, 0.0f);
        EXPECT_LE(t.strength, 1.0f);
    }
    return out;
}

bool Same(const std::vector<DetectedTransient>& a, const std::vector<DetectedTransient>& b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const auto& s, const auto& t)
                      { return s.position == t.position && s.strength == t.strength; });
}

TEST(DetectTransients, SilenceAndShortLoopsFindNothing)
{
    EXPECT_TRUE(Detect(Audio(2, std::vector<float>(44100, 0.0f))).empty());
    // Fewer than four coarse hops (4 * 64 samples at 44.1 kHz), however loud.
    EXPECT_TRUE(Detect({Burst(255, 10, 245, 1.0f, 1)}).empty());
}

TEST(DetectTransients, ClickPlacedByTheRefinement)
{
    // A click of constant magnitude 1 starting at P = 16 m + r after silence. The fine frames
    // (hop 16) are centred on 16 f; their 32-point energy windows cover 16 f - 16 .. 16 f + 15.
    // "Before" (80..64 frames back) is silent and "after" (16..32 frames on) has the full-frame
    // level, so the onset is refined:
    //  a. walking back from the fine flux peak stops at the last frame below a tenth of the
    //     full level and k becomes the frame after it: k = m for r <= 12 (frame m already holds
    //     P .. 16 m + 15), k = m + 1 for r = 13..15, whose samples meet only the window's last,
    //     tiny values. (Ahead of the sound the flux grows by a whole frame's worth each time
    //     one more of the 8 frames it looks at reaches the sound, far more than the 0.5 % per
    //     frame bias toward earlier frames, so the peak is not before m - 2.)
    //  b. no earlier frame exceeds the full level, so there is no second walk.
    //  d. the step search reads from 16 k - 8, where the rooted level steps from 0 to 1 at index
    //     e0 = P - 16 k + 8; the largest rise (two four-sample sums ahead minus two behind) is
    //     first reached at b = e0 - 4.
    // Slot k - 1 with offset b + 16 - 12 gives 16 (k - 1) + P - 16 k + 4 + 4 = P - 8.
    // The click lasts 1024 samples, so all of its flux lies within the narrowest suppression
    // radius (26 coarse frames) of the onset and nothing else survives.
    for (size_t r : {0u, 7u, 12u, 13u, 15u})
    {
        const size_t onset = 16 * 300 + r;
        const auto out = Detect({Burst(16384, onset, 1024, 1.0f, 7)});
        ASSERT_EQ(out.size(), 1u) << r;
        EXPECT_EQ(out[0].position, onset - 8) << r;
        EXPECT_EQ(out[0].strength, 1.0f) << r;
    }
    // At 22.05 kHz (fine hop 8; half as long a click keeps it within the radius) the same
    // reasoning gives 8 (k - 1) + (P - 8 k + 4) + 8 - 12 = P - 8.
    const auto low = Detect({Burst(16384, 5000, 512, 1.0f, 7)}, 22050);
    ASSERT_EQ(low.size(), 1u);
    EXPECT_EQ(low[0].position, 5000u - 8);

    // A second, silent channel changes nothing. A third that jumps to 80 ten samples after the
    // onset is ignored by the tracks, but the step search sums every channel: the rooted level
    // rises from 1 to 3 there, twice the first rise, so the onset moves to (P + 10) - 8.
    const size_t onset = 16 * 300;
    const auto first = Burst(16384, onset, 1024, 1.0f, 7);
    std::vector<float> silent(16384, 0.0f), third(16384, 0.0f);
    std::fill(third.begin() + onset + 10, third.begin() + onset + 1024, 80.0f);
    const auto stereo = Detect({first, silent}), three = Detect({first, silent, third});
    ASSERT_EQ(stereo.size(), 1u);
    ASSERT_EQ(three.size(), 1u);
    EXPECT_EQ(stereo[0].position, onset - 8);
    EXPECT_EQ(three[0].position, onset + 2);
    EXPECT_EQ(three[0].strength, 1.0f);

    // A single-sample click has no "after" level to rise to: unrefined, it lands on a fine
    // frame boundary shortly before it, at full strength.
    silent[5000] = 0.8f;
    const auto out = Detect({silent});
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].strength, 1.0f);
    EXPECT_EQ(out[0].position % 16, 0u);
    EXPECT_LE(out[0].position, 5000u);
    EXPECT_GE(out[0].position, 5000u - 16 * 32);
}

TEST(DetectTransients, WindowWidthControlsHowManySurvive)
{
    std::vector<float> x(44100, 0.0f);
    const size_t onsets[] = {4000, 6000, 9000, 20000, 30000};
    const float levels[] = {1.0f, 0.3f, 0.5f, 0.8f, 0.6f};
    for (int b = 0; b < 5; ++b)
        std::ranges::transform(x, Burst(44100, onsets[b], 1500, levels[b], 20 + b), x.begin(),
                               std::plus<>());
    const auto none = Detect({x}, 44100, 0.0f);
    const auto normal = Detect({x}, 44100, 75.0f);
    const auto wide = Detect({x}, 44100, 10000.0f);
    // 0 ms suppresses nothing. At 10 s even the narrowest pass (5 s) reaches across the whole
    // 1 s loop at full weight, so only the strongest frame is left.
    EXPECT_GT(none.size(), normal.size());
    ASSERT_EQ(wide.size(), 1u);
    EXPECT_EQ(wide[0].position, onsets[0] - 8);
    // At 75 ms every burst is found within a millisecond of its start.
    for (size_t onset : onsets)
    {
        bool found = false;
        for (const auto& t : normal)
            found = found || (t.position + 16 >= onset && t.position <= onset + 16);
        EXPECT_TRUE(found) << onset;
    }
    // NaN and negative windows behave like 0 ms; infinity like any window that wide.
    EXPECT_TRUE(Same(Detect({x}, 44100, NAN), none));
    EXPECT_TRUE(Same(Detect({x}, 44100, -75.0f), none));
    EXPECT_TRUE(Same(Detect({x}, 44100, INFINITY), wide));
}

TEST(DetectTransients, UnusualInputStaysSafe)
{
    const auto x = Burst(20000, 5000, 3000, 0.5f, 3);
    EXPECT_FALSE(Detect({x}, 1).empty()); // 16-sample frames, fine hop 1
    Detect({x}, 0);
    // At 4 GHz the coarse frame is 2^24 samples: 20000 samples are far fewer than four hops.
    EXPECT_TRUE(Detect({x}, 4000000000u).empty());
    EXPECT_TRUE(Detect({x}, 4294967295u).empty());

    auto broken = x;
    broken[6000] = NAN;
    broken[7000] = INFINITY;
    broken[8000] = -INFINITY;
    Detect({broken, broken, broken});
    Detect({std::vector<float>(5000, INFINITY), std::vector<float>(5000, NAN)});
    Detect({std::vector<float>(5000, 3.0e38f), std::vector<float>(5000, -3.0e38f)});

    std::vector<DetectedTransient> out{{1, 1.0f}};
    DSP::DetectTransients(44100, 2, 44100, nullptr, out, 75.0f);
    EXPECT_TRUE(out.empty());
    const float* holes[] = {nullptr, nullptr};
    DSP::DetectTransients(44100, 2, 44100, holes, out, 75.0f);
    EXPECT_TRUE(out.empty());
}

} // namespace
