#include "dsp/analysis/TransientDetector.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace
{

using DSP::DetectedTransient;
using DSP::TransientCandidate;
using DSP::TransientDetector;

constexpr float Rate = 44100.0f;
// The narrowest of the four default windows, 37.5 ms: R = round(0.0375 * 44100 / 64) = 26.
constexpr float Narrow = 0.0375f;

// A detector at 44.1 kHz (coarse hop 64, fine hop 16) with a hand-made coarse track, and fine
// tracks of four times its length, all zero unless a test sets them.
TransientDetector Prepared(std::vector<float> coarse)
{
    TransientDetector d;
    d.hopCoarse = 64;
    d.hopFine = 16;
    d.fluxFine.assign(coarse.size() * 4, 0.0f);
    d.energyFine.assign(coarse.size() * 4, 0.0f);
    d.fluxCoarse = std::move(coarse);
    return d;
}

// With an all-zero fine flux every score is 0 and the first fine frame of the search wins:
// coarse frame i (i >= 8) lands on fine frame 4i - 32 and, unrefined, in slot 4i - 33.
std::vector<int> Survivors(const TransientDetector& d)
{
    std::vector<int> frames;
    for (size_t slot = 0; slot < d.candidates.size(); ++slot)
    {
        if (d.candidates[slot].strength > 0.0f)
            frames.push_back(static_cast<int>(slot + 33) / 4);
    }
    return frames;
}

TEST(PeakPicking, RadiusOfTheFourDefaultPasses)
{
    const int64_t expected[] = {26, 39, 52, 65};
    for (int pass = 0; pass < 4; ++pass)
    {
        // The window of each pass as DetectTransients forms it from 75 ms.
        const float seconds = static_cast<float>(75.0f / 1000.0 * (pass / 4.0 + 0.5));
        EXPECT_EQ(TransientDetector::SuppressionRadius(seconds, Rate, 64, 1000), expected[pass]);
    }
}

TEST(PeakPicking, RadiusOfUnusualWindows)
{
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(TransientDetector::SuppressionRadius(0.0f, Rate, 64, 1000), 0);
    EXPECT_EQ(TransientDetector::SuppressionRadius(-0.5f, Rate, 64, 1000), 0);
    EXPECT_EQ(TransientDetector::SuppressionRadius(nan, Rate, 64, 1000), 0);
    EXPECT_EQ(TransientDetector::SuppressionRadius(-inf, Rate, 64, 1000), 0);
    // Past twice the frame count every frame is in reach at weight 1, so the radius stops there.
    EXPECT_EQ(TransientDetector::SuppressionRadius(inf, Rate, 64, 1000), 2000);
    EXPECT_EQ(TransientDetector::SuppressionRadius(1.0e30f, Rate, 64, 1000), 2000);
    EXPECT_EQ(TransientDetector::SuppressionRadius(10.0f, Rate, 64, 1000), 2000);
    EXPECT_EQ(TransientDetector::SuppressionRadius(1.0f, Rate, 64, 1000), 689);
    EXPECT_EQ(TransientDetector::SuppressionRadius(1.0f, Rate, 0, 1000), 0);
    EXPECT_EQ(TransientDetector::SuppressionRadius(1.0f, nan, 64, 1000), 0);
}

TEST(PeakPicking, EqualPeaksWithinHalfTheRadiusBothSurvive)
{
    std::vector<float> coarse(60, 0.0f);
    coarse[20] = 1.0f;
    coarse[30] = 1.0f; // 10 frames apart, within R/2 = 13
    auto d = Prepared(coarse);
    d.PickPeaks(nullptr, 0, 60 * 64, Rate, 1e6f, Narrow);
    EXPECT_EQ(Survivors(d), (std::vector<int>{20, 30}));
    EXPECT_EQ(d.candidates[4 * 20 - 33].strength, 1.0f);
    EXPECT_EQ(d.candidates[4 * 30 - 33].strength, 1.0f);
}

TEST(PeakPicking, SmallerPeakWithinHalfTheRadiusIsSuppressed)
{
    std::vector<float> coarse(60, 0.0f);
    coarse[20] = 1.0f;
    coarse[30] = 0.99f;
    coarse[33] = 0.5f; // the weaker neighbour is gone before or after, whichever way we scan
    auto d = Prepared(coarse);
    d.PickPeaks(nullptr, 0, 60 * 64, Rate, 1e6f, Narrow);
    EXPECT_EQ(Survivors(d), (std::vector<int>{20}));
}

TEST(PeakPicking, DistanceWeightReachesTwoAndAHalfAtTheRadius)
{
    // At d = R = 26 the weight is 1 + 3 * (26 - 13) / 26 = 2.5.
    {
        std::vector<float> coarse(80, 0.0f);
        coarse[20] = 1.0f;
        coarse[46] = 0.39f; // 2.5 * 0.39 = 0.975 < 1: suppressed
        auto d = Prepared(coarse);
        d.PickPeaks(nullptr, 0, 80 * 64, Rate, 1e6f, Narrow);
        EXPECT_EQ(Survivors(d), (std::vector<int>{20}));
    }
    {
        std::vector<float> coarse(80, 0.0f);
        coarse[20] = 1.0f;
        coarse[46] = 0.41f; // 2.5 * 0.41 = 1.025 > 1: survives
        auto d = Prepared(coarse);
        d.PickPeaks(nullptr, 0, 80 * 64, Rate, 1e6f, Narrow);
        EXPECT_EQ(Survivors(d), (std::vector<int>{20, 46}));
    }
    {
        std::vector<float> coarse(80, 0.0f);
        coarse[20] = 1.0f;
        coarse[47] = 0.01f; // beyond the radius nothing reaches it
        auto d = Prepared(coarse);
        d.PickPeaks(nullptr, 0, 80 * 64, Rate, 1e6f, Narrow);
        EXPECT_EQ(Survivors(d), (std::vector<int>{20, 47}));
    }
    for (float weaker : {0.9f, 0.89f})
    {
        // Just past R/2: d = 14, weight 1 + 3 * 1 / 26 = 1.1154. 0.9 * 1.1154 = 1.004 > 1
        // survives; 0.89 * 1.1154 = 0.993 < 1 does not.
        std::vector<float> coarse(80, 0.0f);
        coarse[20] = 1.0f;
        coarse[34] = weaker;
        auto d = Prepared(coarse);
        d.PickPeaks(nullptr, 0, 80 * 64, Rate, 1e6f, Narrow);
        EXPECT_EQ(Survivors(d), weaker == 0.9f ? (std::vector<int>{20, 34}) : std::vector<int>{20});
    }
}

TEST(PeakPicking, ZeroWindowSuppressesNothing)
{
    std::vector<float> coarse(40, 0.0f);
    coarse[20] = 1.0f;
    coarse[21] = 0.5f;
    coarse[22] = 0.2f;
    coarse[30] = 1e-3f;
    auto d = Prepared(coarse);
    d.PickPeaks(nullptr, 0, 40 * 64, Rate, 1e6f, 0.0f);
    EXPECT_EQ(Survivors(d), (std::vector<int>{20, 21, 22, 30}));
    d.PickPeaks(nullptr, 0, 40 * 64, Rate, 1e6f, Narrow);
    EXPECT_EQ(Survivors(d), (std::vector<int>{20}));
}

// Suppression exactly as described: scan every frame in reach, in place, one direction.
std::vector<float> ReferenceSuppress(std::vector<float> v, int64_t r, bool backward)
{
    const int64_t n = static_cast<int64_t>(v.size());
    for (int64_t s = 0; s < n; ++s)
    {
        const int64_t i = backward ? n - 1 - s : s;
        for (int64_t j = std::max<int64_t>(0, i - r); j <= std::min(i + r, n - 1); ++j)
        {
            const int64_t d = std::abs(j - i);
            const double w = d <= r / 2 ? 1.0 : 1.0 + 3.0 * (d - r / 2) / static_cast<double>(r);
            if (v[j] > w * v[i])
            {
                v[i] = 0.0f;
                break;
            }
        }
    }
    return v;
}

TEST(PeakPicking, SuppressionMatchesTheDirectScan)
{
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> value(0.0f, 1.0f);
    for (int trial = 0; trial < 40; ++trial)
    {
        // Random tracks with stretches of zeros, a few negative entries and a NaN.
        std::vector<float> coarse(300);
        for (float& v : coarse)
        {
            const float u = value(rng);
            v = u < 0.3f ? 0.0f : (u < 0.33f ? -u : value(rng));
        }
        for (int i = 100 + trial; i < 140 + trial; ++i)
            coarse[i] = 0.0f;
        if (trial % 4 == 0)
            coarse[trial] = std::numeric_limits<float>::quiet_NaN();
        for (float seconds : {0.0f, 0.002f, 0.01f, 0.0375f, 0.09375f, 0.3f, 1.0f, 1e9f})
        {
            const int64_t r = TransientDetector::SuppressionRadius(seconds, Rate, 64, 300);
            auto forward = ReferenceSuppress(coarse, r, false);
            const auto backward = ReferenceSuppress(coarse, r, true);
            // Surviving frames land in slot max(0, 4 i - 33) with an all-zero fine track.
            std::vector<float> expected(1200, 0.0f);
            for (int64_t i = 0; i < 300; ++i)
            {
                const float a = std::max(forward[i], backward[i]);
                const size_t slot = static_cast<size_t>(std::max<int64_t>(0, 4 * i - 33));
                if (a > 5.5e-7f && expected[slot] < a)
                    expected[slot] = a;
            }
            auto d = Prepared(coarse);
            d.PickPeaks(nullptr, 0, 300 * 64, Rate, 1e6f, seconds);
            ASSERT_EQ(d.candidates.size(), expected.size());
            for (size_t slot = 0; slot < expected.size(); ++slot)
                ASSERT_EQ(d.candidates[slot].strength, expected[slot])
                    << "trial " << trial << " radius " << r << " slot " << slot;
        }
    }
}

TEST(PeakPicking, OnlyValuesAboveTheFloorArePicked)
{
    // floor = 0.55 / 1e6 as a float.
    const float floor = static_cast<float>(static_cast<double>(0.55f) / 1e6);
    std::vector<float> coarse(40, 0.0f);
    coarse[12] = floor;
    coarse[30] = std::nextafter(floor, 1.0f);
    auto d = Prepared(coarse);
    d.PickPeaks(nullptr, 0, 40 * 64, Rate, 1e6f, 0.0f);
    EXPECT_EQ(Survivors(d), (std::vector<int>{30}));
    // A smaller floor scale raises the floor above both.
    d.PickPeaks(nullptr, 0, 40 * 64, Rate, 1.0f, 0.0f);
    EXPECT_TRUE(Survivors(d).empty());
    EXPECT_EQ(d.candidates.size(), 160u);
}

TEST(PeakPicking, FinePeakFavoursEarlierFrames)
{
    std::vector<float> coarse(40, 0.0f);
    coarse[20] = 1.0f; // p = 80
    auto run = [&](std::vector<std::pair<int, float>> fine)
    {
        auto d = Prepared(coarse);
        for (auto [j, v] : fine)
            d.fluxFine[j] = v;
        d.PickPeaks(nullptr, 0, 40 * 64, Rate, 1e6f, Narrow);
        for (size_t slot = 0; slot < d.candidates.size(); ++slot)
        {
            if (d.candidates[slot].strength > 0.0f)
                return static_cast<int>(slot) + 1; // the fine peak k, unrefined
        }
        return -1;
    };
    // Ten frames early scores (10 * 0.005 + 1) = 1.05 times its flux.
    EXPECT_EQ(run({{70, 1.0f}, {80, 1.04f}}), 70);
    EXPECT_EQ(run({{70, 1.0f}, {80, 1.06f}}), 80);
    // Ten frames late scores 0.95 times its flux.
    EXPECT_EQ(run({{80, 1.0f}, {90, 1.05f}}), 80);
    EXPECT_EQ(run({{80, 1.0f}, {90, 1.06f}}), 90);
    // The search spans 32 frames each side, the upper end excluded.
    EXPECT_EQ(run({{49, 1.0f}}), 49);
    EXPECT_EQ(run({{47, 100.0f}, {111, 0.0f}}), 48);
    EXPECT_EQ(run({{111, 1.0f}}), 111);
    EXPECT_EQ(run({{112, 100.0f}}), 48);
}

TEST(PeakPicking, RefinementWalksToTheRise)
{
    // Coarse frame 20 with its fine peak at k = 80. "Before" averages frames 0..16 (level 1),
    // "after" frames 96..112 (level 4). After > 1.6 * before, so the onset is refined.
    std::vector<float> coarse(40, 0.0f);
    coarse[20] = 1.0f;
    auto d = Prepared(coarse);
    d.fluxFine[80] = 1.0f;
    for (size_t j = 0; j < d.energyFine.size(); ++j)
        d.energyFine[j] = j < 75 ? 1.0f : 4.0f;
    d.PickPeaks(nullptr, 0, 40 * 64, Rate, 1e6f, Narrow);
    // Walking back from 80, frame 74 is the first below 0.1 * 4 + 0.9 * 1 = 1.3: k = 75. No
    // frame in 43..74 exceeds 4. Silent audio makes the step search settle on its first
    // position, b = 0: offset = 0 + 16 - 12 = 4, stored in slot k - 1 = 74.
    EXPECT_EQ(d.candidates[74].strength, 1.0f);
    EXPECT_EQ(d.candidates[74].offset, 4u);
    int stored = 0;
    for (const auto& c : d.candidates)
        stored += c.strength > 0.0f;
    EXPECT_EQ(stored, 1);
}

TEST(PeakPicking, RefinementFollowsAnEarlierCrossing)
{
    std::vector<float> coarse(40, 0.0f);
    coarse[20] = 1.0f;
    auto d = Prepared(coarse);
    d.fluxFine[80] = 1.0f;
    for (size_t j = 0; j < d.energyFine.size(); ++j)
    {
        float e = 4.0f;
        if (j < 58)
            e = 1.0f;
        else if (j == 58)
            e = 2.0f;
        else if (j < 63)
            e = 4.5f;
        else if (j < 73)
            e = 1.2f;
        d.energyFine[j] = e;
    }
    d.PickPeaks(nullptr, 0, 40 * 64, Rate, 1e6f, Narrow);
    // Before = 1 (frames 0..16), after = 4 (96..112).
    // a. From 80 down, frame 72 (1.2) is the first below 1.3: k = 73.
    // b. In 41..72 the first frame above 4 is 59 (4.5): onset = 59.
    // c. From 59 down, the first below 0.5 * 4 + 0.5 * 1 = 2.5 is 58 (2.0): k = 58.
    // Slot 57, offset 4.
    EXPECT_EQ(d.candidates[57].strength, 1.0f);
    EXPECT_EQ(d.candidates[57].offset, 4u);
}

TEST(PeakPicking, NoRefinementWithoutAnAfterSpan)
{
    std::vector<float> coarse(40, 0.0f);
    coarse[37] = 1.0f; // p = 148; frames 164.. do not exist in a track of 160
    auto d = Prepared(coarse);
    d.fluxFine[148] = 1.0f;
    for (size_t j = 140; j < d.energyFine.size(); ++j)
        d.energyFine[j] = 10.0f;
    d.PickPeaks(nullptr, 0, 40 * 64, Rate, 1e6f, Narrow);
    EXPECT_EQ(d.candidates[147].strength, 1.0f);
    EXPECT_EQ(d.candidates[147].offset, 0u);

    // With the fine peak at 143 (score 1.025) the after span is frame 159 alone, level 10
    // against 0 before, and the onset is refined.
    auto e = Prepared(coarse);
    e.fluxFine[143] = 1.0f;
    for (size_t j = 140; j < e.energyFine.size(); ++j)
        e.energyFine[j] = 10.0f;
    e.PickPeaks(nullptr, 0, 40 * 64, Rate, 1e6f, Narrow);
    // Walk: frame 139 is the first below 1.0: k = 140, slot 139.
    EXPECT_EQ(e.candidates[139].strength, 1.0f);
    EXPECT_EQ(e.candidates[139].offset, 4u);
}

TEST(PeakPicking, FirstFrameLandsOnPositionZero)
{
    std::vector<float> coarse(40, 0.0f);
    coarse[0] = 1.0f;
    auto d = Prepared(coarse);
    d.PickPeaks(nullptr, 0, 40 * 64, Rate, 1e6f, Narrow);
    EXPECT_EQ(d.candidates[0].strength, 1.0f);
    EXPECT_EQ(d.candidates[0].offset, 0u);
    std::vector<DetectedTransient> out;
    TransientDetector::EmitTransients(d.candidates, 16, 40 * 64, out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].position, 0u);
    EXPECT_EQ(out[0].strength, 1.0f);
}

TEST(PeakPicking, StepSearchFindsTheRise)
{
    // A level stepping from 0 to 1 at index e0 of the 40 examined samples: the four-sample
    // sums ramp up over e0 - 3 .. e0, and two-ahead minus two-behind is largest (4) first at
    // f = e0 - 4.
    std::vector<float> x(400, 0.0f);
    for (size_t i = 112; i < x.size(); ++i)
        x[i] = (i % 3 == 0) ? -1.0f : 1.0f;
    const float* mono[] = {x.data()};
    EXPECT_EQ(TransientDetector::FindStep(mono, 1, 400, 100), 8); // e0 = 12
    EXPECT_EQ(TransientDetector::FindStep(mono, 1, 400, 80), 28); // e0 = 32
    EXPECT_EQ(TransientDetector::FindStep(mono, 1, 400, 108), 0); // e0 = 4
    // Before the audio everything reads zero: a loop starting loud steps at index 0.
    std::vector<float> loud(400, 1.0f);
    const float* start[] = {loud.data()};
    EXPECT_EQ(TransientDetector::FindStep(start, 1, 400, -20), 16);
    // So does everything at and past the length.
    EXPECT_EQ(TransientDetector::FindStep(start, 1, 10, -20), 16);
    EXPECT_EQ(TransientDetector::FindStep(start, 1, 400, 500), 0);

    // All channels count: a second, bigger step in channel 3 wins. Level 1 + 80 has a fourth
    // root of 3, a rise of 2 against the first rise of 1.
    std::vector<float> quiet(400, 0.0f);
    std::vector<float> big(400, 0.0f);
    for (size_t i = 122; i < big.size(); ++i)
        big[i] = 80.0f;
    const float* three[] = {x.data(), quiet.data(), big.data()};
    EXPECT_EQ(TransientDetector::FindStep(three, 3, 400, 100), 18); // e0 = 22
    EXPECT_EQ(TransientDetector::FindStep(three, 2, 400, 100), 8);
    const float* holes[] = {nullptr, x.data()};
    EXPECT_EQ(TransientDetector::FindStep(holes, 2, 400, 100), 8);
    EXPECT_EQ(TransientDetector::FindStep(nullptr, 2, 400, 100), 0);
}

TEST(PeakPicking, PassesScoreInTheirQuarter)
{
    auto candidate = [](float s, uint32_t offset) { return TransientCandidate{s, offset}; };
    std::vector<TransientCandidate> best;

    // Pass 0, peak 1: scores in [0, 0.25]. The tiny one clamps to 1e-4, scores exactly 0 and
    // so does not beat the empty entry.
    TransientDetector::ScorePass({candidate(0.5f, 1), candidate(1.0f, 1), candidate(5e-5f, 1),
                                  candidate(0.0f, 1), candidate(0.25f, 1)},
                                 0, best);
    ASSERT_EQ(best.size(), 5u);
    EXPECT_EQ(best[0].strength, 0.5f);
    EXPECT_EQ(best[1].strength, 1.0f);
    EXPECT_EQ(best[2].strength, 0.0f);
    EXPECT_EQ(best[3].strength, 0.0f);
    EXPECT_EQ(best[4].strength, 0.25f);
    EXPECT_EQ(best[0].offset, 1u);

    // Pass 1, peak 0.4: 0.2 scores 0.25 + 0.25 * (0.2 - 1e-4) / (0.4 - 1e-4) = 0.375, which
    // does not beat the stored 0.5; the entry that was empty takes 0.4 / 0.4.
    TransientDetector::ScorePass({candidate(0.2f, 2), candidate(0.1f, 2), candidate(0.4f, 2),
                                  candidate(0.0f, 2), candidate(0.0f, 2)},
                                 1, best);
    EXPECT_EQ(best[0].strength, 0.5f);
    EXPECT_EQ(best[0].offset, 1u);
    EXPECT_EQ(best[1].strength, 1.0f);
    EXPECT_EQ(best[2].strength, 1.0f);
    EXPECT_EQ(best[2].offset, 2u);

    // Pass 3 scores at least 0.75: 0.01 against peak 0.02 scores 0.874 > 0.5 and replaces the
    // entry (same relative strength 0.5, new offset); 0.02 scores 1 > 0.25.
    TransientDetector::ScorePass({candidate(0.01f, 3), candidate(0.0f, 3), candidate(0.0f, 3),
                                  candidate(0.0f, 3), candidate(0.02f, 3)},
                                 3, best);
    EXPECT_EQ(best[0].strength, 0.5f);
    EXPECT_EQ(best[0].offset, 3u);
    EXPECT_EQ(best[4].strength, 1.0f);
    EXPECT_EQ(best[4].offset, 3u);
    EXPECT_EQ(best[1].offset, 1u);
}

TEST(PeakPicking, PassScoresForTinyPeaks)
{
    // All candidates exactly at the lower bound: the map degenerates and scores k / 4.
    std::vector<TransientCandidate> best;
    const std::vector<TransientCandidate> bound{{1e-4f, 0}, {1e-4f, 0}};
    TransientDetector::ScorePass(bound, 0, best);
    EXPECT_EQ(best[0].strength, 0.0f);
    TransientDetector::ScorePass(bound, 2, best);
    EXPECT_EQ(best[0].strength, 1.0f);

    // Below the bound the peak is at least 1e-6 and the candidate clamps up to 1e-4: relative
    // strength 100, normalised away at the end.
    best.clear();
    TransientDetector::ScorePass({{5e-7f, 7}}, 1, best);
    EXPECT_FLOAT_EQ(best[0].strength, 100.0f);
    std::vector<DetectedTransient> out;
    TransientDetector::EmitTransients(best, 16, 1000, out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].position, 7u);
    EXPECT_EQ(out[0].strength, 1.0f);

    // Candidates are resized to the latest pass, new entries empty.
    best.assign(2, TransientCandidate{0.5f, 0});
    TransientDetector::ScorePass(std::vector<TransientCandidate>(4), 0, best);
    EXPECT_EQ(best.size(), 4u);
    EXPECT_EQ(best[3].strength, 0.0f);
}

TEST(PeakPicking, EmittedPositionsAndStrengths)
{
    std::vector<TransientCandidate> best{{0.0f, 0}, {0.5f, 0}, {0.0f, 0}, {2.0f, 4}};
    std::vector<DetectedTransient> out{{1, 1.0f}};
    TransientDetector::EmitTransients(best, 16, 1000, out);
    // Appends in entry order; the strongest becomes 1.
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[1].position, 16u);
    EXPECT_EQ(out[1].strength, 0.25f);
    EXPECT_EQ(out[2].position, 52u);
    EXPECT_EQ(out[2].strength, 1.0f);

    // At or past the end of the audio the position is reported as 0.
    out.clear();
    TransientDetector::EmitTransients(best, 16, 52, out);
    EXPECT_EQ(out[1].position, 0u);
    out.clear();
    TransientDetector::EmitTransients(best, 16, 53, out);
    EXPECT_EQ(out[1].position, 52u);

    // With a fine hop of 8 the offset b + 8 - 12 can be negative: before the start also
    // reports 0, elsewhere the small negative offset applies.
    const uint32_t minusFour = static_cast<uint32_t>(-4);
    out.clear();
    TransientDetector::EmitTransients({{1.0f, minusFour}, {0.0f, 0}, {1.0f, minusFour}}, 8, 100,
                                      out);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].position, 0u);
    EXPECT_EQ(out[1].position, 12u);

    // Strengths are divided by at least 1e-4.
    out.clear();
    TransientDetector::EmitTransients({{5e-5f, 0}}, 16, 100, out);
    EXPECT_FLOAT_EQ(out[0].strength, 0.5f);
}

} // namespace
