#include "dsp/analysis/TransientDetector.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace
{

using DSP::DetectedTransient;
using DSP::TransientCandidate;
using DSP::TransientDetector;

constexpr float Rate = 44100.0f;
// The narrowest default pass, 37.5 ms: R = round(0.0375 * 44100 / 64) = 26.
constexpr float Narrow = 0.0375f;

// A detector at 44.1 kHz (hops 64 and 16) with a hand-made coarse track, fine tracks four times
// as long (zero unless given), picked over silent audio with the given window.
TransientDetector Picked(std::vector<float> coarse, float windowSeconds,
                         std::initializer_list<std::pair<int, float>> fine = {},
                         std::vector<float> energy = {})
{
    TransientDetector d;
    d.hopCoarse = 64;
    d.hopFine = 16;
    d.fluxFine.assign(coarse.size() * 4, 0.0f);
    d.energyFine = energy.empty() ? std::vector<float>(coarse.size() * 4, 0.0f) : energy;
    for (auto [j, v] : fine)
        d.fluxFine[j] = v;
    d.fluxCoarse = std::move(coarse);
    d.PickPeaks(nullptr, 0, uint32_t(d.fluxFine.size() * 16), Rate, 1e6f, windowSeconds);
    return d;
}

std::vector<float> Track(std::initializer_list<std::pair<int, float>> peaks)
{
    std::vector<float> coarse(80, 0.0f);
    for (auto [i, v] : peaks)
        coarse[i] = v;
    return coarse;
}

// The slots holding a candidate. With an all-zero fine flux every score is 0 and the first
// frame searched wins: coarse frame i >= 9 lands on fine frame 4 i - 32 and, unrefined, in slot
// 4 i - 33.
std::vector<int> Slots(const TransientDetector& d)
{
    std::vector<int> slots;
    for (size_t slot = 0; slot < d.candidates.size(); ++slot)
        if (d.candidates[slot].strength > 0.0f)
            slots.push_back(int(slot));
    return slots;
}

std::vector<int> Survivors(std::vector<float> coarse, float windowSeconds)
{
    std::vector<int> frames;
    for (int slot : Slots(Picked(std::move(coarse), windowSeconds)))
        frames.push_back((slot + 33) / 4);
    return frames;
}

TEST(PeakPicking, SuppressionRadius)
{
    // The four default passes (37.5 to 93.75 ms), then 1 s. NaN and negative windows suppress
    // nothing; past twice the frame count every frame is in reach at weight 1, so it stops there.
    const std::pair<float, int64_t> cases[] = {{0.0375f, 26},  {0.05625f, 39}, {0.075f, 52},
                                               {0.09375f, 65}, {1.0f, 689},    {0.0f, 0},
                                               {-0.5f, 0},     {NAN, 0},       {-INFINITY, 0},
                                               {10.0f, 2000},  {1e30f, 2000},  {INFINITY, 2000}};
    for (auto [seconds, radius] : cases)
        EXPECT_EQ(TransientDetector::SuppressionRadius(seconds, Rate, 64, 1000), radius) << seconds;
}

TEST(PeakPicking, SuppressionCases)
{
    // Equal peaks 10 frames apart (within R/2 = 13) both survive: suppression needs a strictly
    // greater neighbour. Of unequal ones the smaller goes, whichever direction reaches it first.
    EXPECT_EQ(Survivors(Track({{20, 1.0f}, {30, 1.0f}}), Narrow), (std::vector<int>{20, 30}));
    EXPECT_EQ(Survivors(Track({{20, 1.0f}, {30, 0.99f}, {33, 0.5f}}), Narrow),
              std::vector<int>{20});
    // Just past R/2 the weight is 1 + 3 * (14 - 13) / 26 = 1.115: 0.9 holds, 0.89 does not.
    EXPECT_EQ(Survivors(Track({{20, 1.0f}, {34, 0.9f}}), Narrow), (std::vector<int>{20, 34}));
    EXPECT_EQ(Survivors(Track({{20, 1.0f}, {34, 0.89f}}), Narrow), std::vector<int>{20});
    // At d = R = 26 the weight is 2.5: 0.39 goes, 0.41 holds; beyond R nothing reaches.
    EXPECT_EQ(Survivors(Track({{20, 1.0f}, {46, 0.39f}}), Narrow), std::vector<int>{20});
    EXPECT_EQ(Survivors(Track({{20, 1.0f}, {46, 0.41f}}), Narrow), (std::vector<int>{20, 46}));
    EXPECT_EQ(Survivors(Track({{20, 1.0f}, {47, 0.01f}}), Narrow), (std::vector<int>{20, 47}));
    // A 0 ms window suppresses nothing.
    const auto close = Track({{20, 1.0f}, {21, 0.5f}, {22, 0.2f}, {30, 1e-3f}});
    EXPECT_EQ(Survivors(close, 0.0f), (std::vector<int>{20, 21, 22, 30}));
    EXPECT_EQ(Survivors(close, Narrow), std::vector<int>{20});
    // Only values above 0.55 / 1e6 (as a float) are picked.
    const float floor = float(double(0.55f) / 1e6);
    EXPECT_EQ(Survivors(Track({{12, floor}, {30, std::nextafter(floor, 1.0f)}}), 0.0f),
              std::vector<int>{30});
}

TEST(PeakPicking, SuppressionMatchesTheDirectScan)
{
    // The suppression as described, on a copy: every frame in reach, in place, one direction.
    auto suppress = [](std::vector<float> v, int64_t r, bool backward)
    {
        const int64_t n = int64_t(v.size());
        for (int64_t s = 0; s < n; ++s)
        {
            const int64_t i = backward ? n - 1 - s : s;
            for (int64_t j = std::max<int64_t>(0, i - r); j <= std::min(i + r, n - 1); ++j)
            {
                const int64_t d = std::abs(j - i);
                const double w = d <= r / 2 ? 1.0 : 1.0 + 3.0 * (d - r / 2) / double(r);
                if (v[j] > w * v[i])
                {
                    v[i] = 0.0f;
                    break;
                }
            }
        }
        return v;
    };
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> value(0.0f, 1.0f);
    for (int trial = 0; trial < 40; ++trial)
    {
        // Random tracks with zeros, a quiet stretch, a few negative entries and sometimes a NaN.
        std::vector<float> coarse(300);
        for (float& v : coarse)
        {
            const float u = value(rng);
            v = u < 0.3f ? 0.0f : (u < 0.33f ? -u : value(rng));
        }
        std::fill(coarse.begin() + 100 + trial, coarse.begin() + 140 + trial, 0.0f);
        if (trial % 4 == 0)
            coarse[trial] = NAN;
        for (float seconds : {0.0f, 0.002f, 0.0375f, 0.09375f, 0.3f, 1e9f})
        {
            const int64_t r = TransientDetector::SuppressionRadius(seconds, Rate, 64, 300);
            const auto forward = suppress(coarse, r, false);
            const auto backward = suppress(coarse, r, true);
            std::vector<float> expected(1200, 0.0f);
            for (int64_t i = 0; i < 300; ++i)
            {
                const float a = std::max(forward[i], backward[i]);
                float& slot = expected[std::max<int64_t>(0, 4 * i - 33)];
                if (a > 5.5e-7f && slot < a)
                    slot = a;
            }
            const auto d = Picked(coarse, seconds);
            for (size_t s = 0; s < expected.size(); ++s)
                ASSERT_EQ(d.candidates[s].strength, expected[s]) << trial << " R " << r << " " << s;
        }
    }
}

TEST(PeakPicking, FinePeakFavoursEarlierFrames)
{
    // Coarse frame 20: p = 80, searched over fine frames 48..111. Ten frames early scores
    // (10 * 0.005 + 1) = 1.05 times its flux, ten late 0.95 times. Unrefined, frame k lands in
    // slot k - 1.
    auto slots = [](std::initializer_list<std::pair<int, float>> fine) {
        return Slots(Picked(Track({{20, 1.0f}}), Narrow, fine));
    };
    using Frames = std::vector<int>;
    EXPECT_EQ(slots({{70, 1.0f}, {80, 1.04f}}), Frames{69});
    EXPECT_EQ(slots({{70, 1.0f}, {80, 1.06f}}), Frames{79});
    EXPECT_EQ(slots({{80, 1.0f}, {90, 1.05f}}), Frames{79});
    EXPECT_EQ(slots({{80, 1.0f}, {90, 1.06f}}), Frames{89});
    EXPECT_EQ(slots({{47, 100.0f}, {112, 100.0f}}), Frames{47}); // outside the search: all zero
    EXPECT_EQ(slots({{111, 1.0f}}), Frames{110});
}

TEST(PeakPicking, RefinementWalksBackToTheRise)
{
    std::vector<float> energy(320, 4.0f);
    std::fill_n(energy.begin(), 58, 1.0f);
    energy[58] = 2.0f;
    std::fill(energy.begin() + 59, energy.begin() + 63, 4.5f);
    std::fill(energy.begin() + 63, energy.begin() + 73, 1.2f);
    auto d = Picked(Track({{20, 1.0f}}), Narrow, {{80, 1.0f}}, energy); // k = 80
    // Before = 1 (frames 0..16), after = 4 (96..112), 4 > 1.6: refine.
    // a. From 80 down, 72 (1.2) is the first below 0.1 * 4 + 0.9 * 1 = 1.3: k = 73.
    // b. In 41..72 the first frame above 4 is 59 (4.5): onset = 59.
    // c. From 59 down, 58 (2.0) is the first below 0.5 * 4 + 0.5 * 1 = 2.5: k = 58.
    // d. Silent audio: the step search settles on b = 0, offset 0 + 16 - 12 = 4. Slot 57.
    ASSERT_EQ(Slots(d), std::vector<int>{57});
    EXPECT_EQ(d.candidates[57].strength, 1.0f);
    EXPECT_EQ(d.candidates[57].offset, 4u);

    // Near the end the "after" span (k + 16 onward) is empty: its mean is NaN and nothing is
    // refined, however loud it gets.
    std::fill(energy.begin() + 300, energy.end(), 10.0f);
    d = Picked(Track({{77, 1.0f}}), Narrow, {{308, 1.0f}}, energy);
    ASSERT_EQ(Slots(d), std::vector<int>{307});
    EXPECT_EQ(d.candidates[307].offset, 0u);
}

TEST(PeakPicking, PassScoresAndOutput)
{
    std::vector<TransientCandidate> best;
    // Pass 0, peak 1: 5e-5 clamps up to 1e-4, scores exactly 0 and is not stored.
    TransientDetector::ScorePass({{0.5f, 1}, {1.0f, 1}, {5e-5f, 1}, {0.0f, 1}}, 0, best);
    EXPECT_EQ(best[0].strength, 0.5f);
    EXPECT_EQ(best[2].strength, 0.0f);
    // Pass 1, peak 0.4: 0.2 scores 0.25 + 0.25 * (0.2 - 1e-4) / (0.4 - 1e-4) = 0.375 < 0.5
    // and leaves entry 0 alone; the empty entry 2 takes 0.4 / 0.4.
    TransientDetector::ScorePass({{0.2f, 2}, {0.1f, 2}, {0.4f, 2}, {0.0f, 2}}, 1, best);
    EXPECT_EQ(best[0].offset, 1u);
    EXPECT_EQ(best[2].strength, 1.0f);
    EXPECT_EQ(best[2].offset, 2u);
    // Pass 3 scores at least 0.75: 0.01 against peak 0.02 (0.874) replaces entry 0 with the
    // same relative strength 0.5 and its own offset.
    TransientDetector::ScorePass({{0.01f, 3}, {0.0f, 3}, {0.0f, 3}, {0.02f, 3}}, 3, best);
    EXPECT_EQ(best[0].strength, 0.5f);
    EXPECT_EQ(best[0].offset, 3u);
    EXPECT_EQ(best[3].strength, 1.0f);

    // Output in entry order, normalised to the strongest (here 1).
    std::vector<DetectedTransient> out;
    TransientDetector::EmitTransients(best, 16, 1000, out);
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[0].position, 3u);
    EXPECT_EQ(out[1].position, 17u);
    EXPECT_EQ(out[3].position, 51u);
    // At or past the length a position is reported as 0; with a fine hop of 8 the offset
    // b + 8 - 12 may be negative, and before the start is reported as 0 too.
    out.clear();
    TransientDetector::EmitTransients({{0.0f, 0}, {0.0f, 0}, {0.0f, 0}, {2.0f, 4}}, 16, 52, out);
    EXPECT_EQ(out[0].position, 0u);
    EXPECT_EQ(out[0].strength, 1.0f);
    const uint32_t minusFour = uint32_t(-4);
    out.clear();
    TransientDetector::EmitTransients({{1.0f, minusFour}, {0.0f, 0}, {5e-5f, minusFour}}, 8, 100,
                                      out);
    EXPECT_EQ(out[0].position, 0u);
    EXPECT_EQ(out[1].position, 12u);
    EXPECT_FLOAT_EQ(out[1].strength, 5e-5f);
    // Strengths are divided by at least 1e-4.
    out.clear();
    TransientDetector::EmitTransients({{5e-5f, 0}}, 16, 100, out);
    EXPECT_FLOAT_EQ(out[0].strength, 0.5f);
}

} // namespace
