#include "dsp/analysis/TransientDetector.h"
#include "dsp/foundation/KernelPath.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace
{

using DSP::DetectedTransient;
using DSP::TransientCandidate;
using DSP::TransientDetector;

constexpr float Rate = 44100.0f;
constexpr float Narrow = 0.0375f; // the narrowest default pass: R = 26

// Hops 64 and 16, a hand-made coarse track, fine tracks four times as long, silent audio.
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

std::vector<int> Slots(const TransientDetector& d)
{
    std::vector<int> slots;
    for (size_t slot = 0; slot < d.candidates.size(); ++slot)
        if (d.candidates[slot].strength > 0.0f)
            slots.push_back(int(slot));
    return slots;
}

// With an all-zero fine flux, coarse frame i >= 9 lands unrefined in slot 4 i - 33.
std::vector<int> Survivors(std::vector<float> coarse, float windowSeconds)
{
    std::vector<int> frames;
    for (int slot : Slots(Picked(std::move(coarse), windowSeconds)))
        frames.push_back((slot + 33) / 4);
    return frames;
}

TEST(PeakPicking, SuppressionRadius)
{
    const std::pair<float, int64_t> cases[] = {{0.0375f, 26}, {0.09375f, 65},  {1.0f, 689},
                                               {0.0f, 0},     {-0.5f, 0},      {NAN, 0},
                                               {10.0f, 2000}, {INFINITY, 2000}};
    for (auto [seconds, radius] : cases)
        EXPECT_EQ(TransientDetector::SuppressionRadius(seconds, Rate, 64, 1000), radius) << seconds;
}

TEST(PeakPicking, SuppressionCases)
{
    using V = std::vector<int>;
    EXPECT_EQ(Survivors(Track({{20, 1.0f}, {30, 1.0f}}), Narrow), (V{20, 30}));
    EXPECT_EQ(Survivors(Track({{20, 1.0f}, {30, 0.99f}, {33, 0.5f}}), Narrow), V{20});
    // Weight 1 + 3 * (d - 13) / 26: 1.115 at d = 14, 2.5 at d = R = 26, nothing beyond.
    EXPECT_EQ(Survivors(Track({{20, 1.0f}, {34, 0.9f}}), Narrow), (V{20, 34}));
    EXPECT_EQ(Survivors(Track({{20, 1.0f}, {34, 0.89f}}), Narrow), V{20});
    EXPECT_EQ(Survivors(Track({{20, 1.0f}, {46, 0.39f}}), Narrow), V{20});
    EXPECT_EQ(Survivors(Track({{20, 1.0f}, {46, 0.41f}}), Narrow), (V{20, 46}));
    EXPECT_EQ(Survivors(Track({{20, 1.0f}, {47, 0.01f}}), Narrow), (V{20, 47}));
    // Odd R = 39: the half radius is 19.5, so the weight is 1 + 3 * 0.5 / 39 = 1.0385 at d = 20
    // and exactly 2.5 at d = R.
    const float odd = 0.05625f;
    EXPECT_EQ(Survivors(Track({{20, 1.0f}, {40, 0.95f}}), odd), V{20});
    EXPECT_EQ(Survivors(Track({{20, 1.0f}, {40, 0.97f}}), odd), (V{20, 40}));
    EXPECT_EQ(Survivors(Track({{20, 1.0f}, {59, 0.399f}}), odd), V{20});
    EXPECT_EQ(Survivors(Track({{20, 1.0f}, {59, 0.401f}}), odd), (V{20, 59}));
    EXPECT_EQ(Survivors(Track({{20, 1.0f}, {21, 0.5f}, {30, 1e-3f}}), 0.0f), (V{20, 21, 30}));
    const float floor = float(double(0.55f) / 1e6); // only values above it are picked
    EXPECT_EQ(Survivors(Track({{12, floor}, {30, std::nextafter(floor, 1.0f)}}), 0.0f), V{30});
}

// The suppression as the one-frame-at-a-time scan, for the survivors of a dense track.
std::vector<int> ReferenceSurvivors(const std::vector<float>& coarse, int64_t radius)
{
    auto suppress = [&](bool backward)
    {
        std::vector<float> v = coarse;
        const int64_t n = int64_t(v.size());
        for (int64_t step = 0; step < n; ++step)
        {
            const int64_t i = backward ? n - 1 - step : step;
            for (int64_t j = std::max<int64_t>(0, i - radius); j <= std::min(i + radius, n - 1);
                 ++j)
            {
                const double d = double(std::abs(j - i)), half = radius / 2.0;
                if (v[j] > (d <= half ? 1.0 : 1.0 + 3.0 * (d - half) / double(radius)) * v[i])
                {
                    v[i] = 0.0f;
                    break;
                }
            }
        }
        return v;
    };
    const std::vector<float> forward = suppress(false), backward = suppress(true);
    std::vector<int> frames;
    for (size_t i = 0; i < coarse.size(); ++i)
        if (std::max(forward[i], backward[i]) > float(double(0.55f) / 1e6))
            frames.push_back(int(i));
    return frames;
}

// Every kernel path the processor can run keeps the frames the plain scan keeps, on a track of
// levels from a fixed integer sequence (frames 9 and up, so each maps to its own slot) with a long
// silence, a run of equal levels, a negative, a NaN and an infinite level, at an even, an odd and
// an all-spanning radius.
TEST(PeakPicking, EveryKernelPathSuppressesAsThePlainScan)
{
    using DSP::KernelPath;
    std::vector<float> coarse(600, 0.0f);
    for (uint32_t i = 9, x = 12345; i < coarse.size(); ++i, x = x * 1103515245u + 12345u)
        coarse[i] = i >= 150 && i < 350   ? 0.0f
                    : i >= 400 && i < 420 ? 0.5f
                                          : float((x >> 8) % 1000) / 1000.0f;
    coarse[100] = -0.7f;
    coarse[120] = NAN;
    coarse[500] = INFINITY;
    const KernelPath initial = DSP::ActiveKernelPath();
    for (auto [seconds, radius] :
         {std::pair{Narrow, 26}, std::pair{0.05625f, 39}, std::pair{2.0f, 1200}})
    {
        const std::vector<int> expected = ReferenceSurvivors(coarse, radius);
        // The spanning radius leaves only the infinite level; the others keep several frames.
        EXPECT_TRUE(radius == 1200 ? expected == std::vector<int>{500} : expected.size() >= 5);
        for (KernelPath path : {KernelPath::Baseline, KernelPath::Avx2, KernelPath::Avx512})
        {
            if (DSP::SetKernelPath(path))
            {
                EXPECT_EQ(Survivors(coarse, seconds), expected) << "path " << int(path);
            }
        }
    }
    DSP::SetKernelPath(initial);
}

TEST(PeakPicking, RefinementWalksBackToTheRise)
{
    std::vector<float> energy(320, 4.0f);
    std::fill_n(energy.begin(), 58, 1.0f);
    energy[58] = 2.0f;
    std::fill(energy.begin() + 59, energy.begin() + 63, 4.5f);
    std::fill(energy.begin() + 63, energy.begin() + 73, 1.2f);
    // Before 1, after 4: back from 80 to 73 (below 1.3), first above 4 in 41..72 is 59, back
    // to 58 (below 2.5); silent audio gives offset 4 in slot 57.
    auto d = Picked(Track({{20, 1.0f}}), Narrow, {{80, 1.0f}}, energy);
    ASSERT_EQ(Slots(d), std::vector<int>{57});
    EXPECT_EQ(d.candidates[57].offset, 4u);
    // Near the end the "after" span is empty: nothing is refined, however loud.
    std::fill(energy.begin() + 300, energy.end(), 10.0f);
    d = Picked(Track({{77, 1.0f}}), Narrow, {{308, 1.0f}}, energy);
    ASSERT_EQ(Slots(d), std::vector<int>{307});
    EXPECT_EQ(d.candidates[307].offset, 0u);
}

TEST(PeakPicking, PassScoresAndOutput)
{
    std::vector<TransientCandidate> best;
    // Pass 0, peak 1: 5e-5 clamps up to 1e-4 and scores 0. Pass 1, peak 0.4: 0.2 scores
    // 0.375 < 0.5. Pass 3 scores at least 0.75: 0.01 of peak 0.02 replaces entry 0.
    TransientDetector::ScorePass({{0.5f, 1}, {1.0f, 1}, {5e-5f, 1}, {0.0f, 1}}, 0, best);
    EXPECT_EQ(best[2].strength, 0.0f);
    TransientDetector::ScorePass({{0.2f, 2}, {0.1f, 2}, {0.4f, 2}, {0.0f, 2}}, 1, best);
    EXPECT_EQ(best[0].offset, 1u);
    EXPECT_EQ(best[2].strength, 1.0f);
    TransientDetector::ScorePass({{0.01f, 3}, {0.0f, 3}, {0.0f, 3}, {0.02f, 3}}, 3, best);
    EXPECT_EQ(best[0].strength, 0.5f);
    EXPECT_EQ(best[0].offset, 3u);
    std::vector<DetectedTransient> out;
    TransientDetector::EmitTransients(best, 16, 1000, out);
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[1].position, 17u);
    EXPECT_EQ(out[3].position, 51u);
    // At or past the length, or before the start, a position is reported as 0; strengths are
    // divided by at least 1e-4.
    out.clear();
    TransientDetector::EmitTransients({{0.0f, 0}, {0.0f, 0}, {0.0f, 0}, {2.0f, 4}}, 16, 52, out);
    EXPECT_EQ(out[0].position, 0u);
    out.clear();
    TransientDetector::EmitTransients({{1.0f, uint32_t(-4)}, {0.0f, 0}, {5e-5f, 0}}, 8, 100, out);
    EXPECT_EQ(out[0].position, 0u);
    EXPECT_FLOAT_EQ(out[1].strength, 5e-5f);
    out.clear();
    TransientDetector::EmitTransients({{5e-5f, 0}}, 16, 100, out);
    EXPECT_FLOAT_EQ(out[0].strength, 0.5f);
}

} // namespace
