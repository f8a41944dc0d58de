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

TEST(DetectTransients, SilenceAndShortLoopsFindNothing)
{
    EXPECT_TRUE(Detect(Audio(2, std::vector<float>(44100, 0.0f))).empty());
    EXPECT_TRUE(Detect({Burst(255, 10, 245, 1.0f, 1)}).empty()); // fewer than 4 coarse hops
}

// A click of constant magnitude at P = 16 m + r after silence. The refinement walks back to
// k = m (r <= 12) or m + 1 (r >= 13); the step search then finds the rise at b = P - 16 k + 4,
// and slot k - 1 with offset b + 4 gives P - 8.
TEST(DetectTransients, ClickPlacedByTheRefinement)
{
    for (size_t r : {0u, 7u, 12u, 13u, 15u})
    {
        const size_t onset = 16 * 300 + r;
        const auto out = Detect({Burst(16384, onset, 1024, 1.0f, 7)});
        ASSERT_EQ(out.size(), 1u) << r;
        EXPECT_EQ(out[0].position, onset - 8) << r;
        EXPECT_EQ(out[0].strength, 1.0f) << r;
    }
    // A silent second channel changes nothing. A third is ignored by the tracks, but the step
    // search sums it: its jump to 80 ten samples later doubles the rise, moving the onset there.
    const size_t onset = 16 * 300;
    const auto first = Burst(16384, onset, 1024, 1.0f, 7);
    std::vector<float> silent(16384, 0.0f), third(16384, 0.0f);
    std::fill(third.begin() + onset + 10, third.begin() + onset + 1024, 80.0f);
    const auto stereo = Detect({first, silent}), three = Detect({first, silent, third});
    ASSERT_EQ(stereo.size(), 1u);
    ASSERT_EQ(three.size(), 1u);
    EXPECT_EQ(stereo[0].position, onset - 8);
    EXPECT_EQ(three[0].position, onset + 2);
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
    const auto wide = Detect({x}, 44100, 10000.0f); // reaches across the loop at full weight
    EXPECT_GT(none.size(), normal.size());
    ASSERT_EQ(wide.size(), 1u);
    EXPECT_EQ(wide[0].position, onsets[0] - 8);
    for (size_t onset : onsets)
        EXPECT_TRUE(
            std::ranges::any_of(normal, [&](const auto& t)
                                { return t.position + 16 >= onset && t.position <= onset + 16; }))
            << onset;
}

TEST(DetectTransients, UnusualInputStaysSafe)
{
    const auto x = Burst(20000, 5000, 3000, 0.5f, 3);
    EXPECT_FALSE(Detect({x}, 1).empty());
    Detect({x}, 0);
    Detect({x}, 44100, NAN);
    Detect({x}, 44100, -INFINITY);
    EXPECT_TRUE(Detect({x}, 4294967295u).empty()); // a coarse frame far longer than the loop
    auto broken = x;
    broken[6000] = NAN;
    broken[7000] = INFINITY;
    broken[8000] = -INFINITY;
    Detect({broken, broken, broken});
    Detect({std::vector<float>(5000, 3.0e38f), std::vector<float>(5000, -3.0e38f)});
    std::vector<DetectedTransient> out{{1, 1.0f}};
    DSP::DetectTransients(44100, 2, 44100, nullptr, out, 75.0f);
    EXPECT_TRUE(out.empty());
    const float* holes[] = {nullptr, nullptr};
    DSP::DetectTransients(44100, 2, 44100, holes, out, 75.0f);
    EXPECT_TRUE(out.empty());
}

} // namespace
